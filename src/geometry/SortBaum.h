// The sort trees of the suite: the region split trees (TBaumStruktur and its relatives) and the circle tree
// (TCircleTree). See the two headers for the models and the ownership rules.
#pragma once

#include "geometry/CircleTree.h"
#include "geometry/SplitTree.h"
