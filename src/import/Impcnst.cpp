#include "import/Impcnst.h"
