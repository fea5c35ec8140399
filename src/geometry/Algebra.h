// Small-vector algebra, plane intersections and perpendiculars, angles, rotations and frame transforms.
//
// Vectors come in three forms: plain arrays of doubles (TVektor2, TVektor3, TVektor4) handled by free functions
// that return new arrays, the value types vektor2 / vektor3 whose methods work on themselves, and arrays of
// signed 64-bit integers (the i64_ functions, wrap-around arithmetic). Matrices are row-major (M[row][col]) and
// are applied from the left to column vectors. Angles are radians unless a name says degrees; the pseudo-angle of
// theta/GetTheta runs over [0, 360).
//
// Nothing here allocates, keeps state or throws, except EbeneZrech for a vertical plane. Predicates answer
// false, 0 or -1 for degenerate input.
//
// Precision: stored results are doubles. We evaluate the orientation test (mps) and the determinant and the two
// parameter numerators of the intersection family in long double. On x86-64 its 64-bit significand makes these
// products and differences exact for integer-valued coordinates whose differences stay below 2^30, so the
// orientation, parallel and end-point decisions are exact for such input. The parameter t of the second operand
// is evaluated as its own ratio of determinants ((P - Q) x D / det), which is the same quantity as the
// larger-component formula but leaves no rounding between "exactly at the end" and "just beyond it".
#pragma once

#include <array>
#include <cstdint>

namespace vez {

using TVektor2 = std::array<double, 2>;
using TVektor3 = std::array<double, 3>;
using TVektor4 = std::array<double, 4>;
using TI64Vektor2 = std::array<int64_t, 2>;
using TI64Vektor3 = std::array<int64_t, 3>;
using TMatrix2x2 = std::array<std::array<double, 2>, 2>;
using TMatrix3x3 = std::array<std::array<double, 3>, 3>;

// ---- Value types -------------------------------------------------------------------------------------------

// A 2-vector that works on itself. A plain aggregate: init() stands in for a constructor.
struct vektor2 {
  double x = 0, y = 0;

  void init(double ax, double ay) { x = ax; y = ay; }
  void add(const vektor2& a, const vektor2& b) { x = a.x + b.x; y = a.y + b.y; }
  void sub(const vektor2& a, const vektor2& b) { x = a.x - b.x; y = a.y - b.y; }
  void addKxV(const vektor2& a, double k, const vektor2& b) { x = a.x + k * b.x; y = a.y + k * b.y; }
  void mul(double k) { x *= k; y *= k; }
  void divk(double k) { x /= k; y /= k; }
  double Selfpktb(const vektor2& b) const { return x * b.x + y * b.y; }
  // self := M·v; v may be self.
  void MxV(const TMatrix2x2& m, const vektor2& v);
  double Norm() const;
  // Divides by the length when it is positive and the division stays finite; false (unchanged) otherwise.
  bool Normiere();
  double angleX() const;
  double angleV(const vektor2& b) const;
};

// A 3-vector that works on itself.
struct vektor3 {
  double x = 0, y = 0, z = 0;

  vektor3() = default;
  vektor3(double ax, double ay, double az) : x(ax), y(ay), z(az) {}
  void add(const vektor3& a, const vektor3& b) { x = a.x + b.x; y = a.y + b.y; z = a.z + b.z; }
  void sub(const vektor3& a, const vektor3& b) { x = a.x - b.x; y = a.y - b.y; z = a.z - b.z; }
  void addKxV(const vektor3& a, double k, const vektor3& b) {
    x = a.x + k * b.x; y = a.y + k * b.y; z = a.z + k * b.z;
  }
  void mul(double k) { x *= k; y *= k; z *= k; }
  void divk(double k) { x /= k; y /= k; z /= k; }
  double Selfpktb(const vektor3& b) const { return x * b.x + y * b.y + z * b.z; }
  // self := a × b; a or b may be self.
  void CrossProd(const vektor3& a, const vektor3& b);
  // self := M·v; v may be self.
  void MxV(const TMatrix3x3& m, const vektor3& v);
  double Norm() const;
  // Divides by the length when it exceeds 1e-20; false (unchanged) otherwise.
  bool Normiere();
  double angleV(const vektor3& b) const;
};

double SkalarProd3D(const vektor3& a, const vektor3& b);

// ---- Array form --------------------------------------------------------------------------------------------

// Copies the first 2 / 3 elements of a longer array.
TVektor2 InitV2(const double* a);
TVektor3 InitV3(const double* a);
TVektor2 InitV2(double x, double y);
TVektor3 InitV3(double x, double y, double z);
TVektor2 AddV2(const TVektor2& a, const TVektor2& b);
TVektor3 AddV3(const TVektor3& a, const TVektor3& b);
TVektor2 SubV2(const TVektor2& a, const TVektor2& b);
TVektor3 SubV3(const TVektor3& a, const TVektor3& b);
TVektor4 SubV4(const TVektor4& a, const TVektor4& b);
// a + k·b
TVektor2 addKxV2(const TVektor2& a, double k, const TVektor2& b);
TVektor3 addKxV3(const TVektor3& a, double k, const TVektor3& b);
TVektor2 mulkV2(double k, const TVektor2& a);
TVektor3 mulkV3(double k, const TVektor3& a);
// a / k; k = 0 is the caller's error.
TVektor2 divkV2(double k, const TVektor2& a);
TVektor3 divkV3(double k, const TVektor3& a);
double ApktB2(const TVektor2& a, const TVektor2& b);
double ApktB(const TVektor3& a, const TVektor3& b);
double SkalarProd3D(const TVektor3& a, const TVektor3& b);
double Norm2(const TVektor2& a);
double Norm3(const TVektor3& a);
// Scale to length 1 when the length exceeds 1e-10; false (unchanged) otherwise.
bool Normalize2(TVektor2& a);
bool Normalize3(TVektor3& a);
// √(x² + y²) without scaling against overflow.
double FastHypot(double x, double y);
double Distance2(const TVektor2& a, const TVektor2& b);
double Distance3(const TVektor3& a, const TVektor3& b);
// M·v; the result is a new array, so input and output never share storage.
TVektor2 MxV2(const TMatrix2x2& m, const TVektor2& v);
TVektor3 MxV(const TMatrix3x3& m, const TVektor3& v);
TVektor3 CrossProd(const TVektor3& a, const TVektor3& b);
// (a.y, −a.x): a quarter turn clockwise.
TVektor2 GetNormal(const TVektor2& a);
// Direction of a against the x axis, [0, 2π); (0, 0) gives 0.
double angleX(const TVektor2& a);
// Unoriented angle in [0, π]; 0 when a vector has zero length.
double angleV2(const TVektor2& a, const TVektor2& b);
double angleV3(const TVektor3& a, const TVektor3& b);
// Counter-clockwise angle from a to b in [0, 2π).
double OrientedAngleV2(const TVektor2& a, const TVektor2& b);
// (a·b)/(|a||b|) without clamping, and |a×b|/(|a||b|); both 0 for a zero-length vector.
double CosAngleV3(const TVektor3& a, const TVektor3& b);
double SinAngleV3(const TVektor3& a, const TVektor3& b);

// ---- 64-bit integer form (wrap-around, overflow not detected) ---------------------------------------------

TI64Vektor2 i64_InitV2(const int64_t* a);
TI64Vektor3 i64_InitV3(const int64_t* a);
int64_t i64_ApktB2(const TI64Vektor2& a, const TI64Vektor2& b);
int64_t i64_ApktB(const TI64Vektor3& a, const TI64Vektor3& b);
// Square root of the sum of squares, rounded half to even.
int64_t i64_Norm2(const TI64Vektor2& a);
int64_t i64_Norm3(const TI64Vektor3& a);
// a + k·b (note: k last)
TI64Vektor3 i64_AddKxV3(const TI64Vektor3& a, const TI64Vektor3& b, int64_t k);
TI64Vektor3 i64_SubV3(const TI64Vektor3& a, const TI64Vektor3& b);
TI64Vektor3 i64_MulkV3(int64_t k, const TI64Vektor3& a);
TI64Vektor3 i64_CrossProd(const TI64Vektor3& a, const TI64Vektor3& b);

// ---- Matrices ----------------------------------------------------------------------------------------------

// Counter-clockwise rotation by phi.
TMatrix2x2 M2x2dreh(double phi);
TMatrix2x2 M2x2mult(const TMatrix2x2& a, const TMatrix2x2& b);
TMatrix3x3 M3x3Unity();
TMatrix3x3 M3x3Mult(const TMatrix3x3& a, const TMatrix3x3& b);
TMatrix3x3 M3x3Transponiere(const TMatrix3x3& a);
// Rotation about the axis n (not normalised here) by phi, clockwise seen from the tip of n when applied with MxV
// (the transpose of the right-handed rotation).
TMatrix3x3 M3x3Dreh(const TVektor3& n, double phi);
// Axis g (components ≥ 0) and signed angle theta of a rotation made by M3x3Dreh. g is left as passed when M is
// the identity.
void M3x3GetGTheta(const TMatrix3x3& m, TVektor3& g, double& theta);

// ---- Orientation and area ----------------------------------------------------------------------------------

// 1: p2 left of p0→p1; −1: right; collinear: −2 behind p0, 2 beyond p1, 0 on the segment (ends included).
int mps(const vektor2& p0, const vektor2& p1, const vektor2& p2);
int mps(const TVektor2& p0, const TVektor2& p1, const TVektor2& p2);
// The same on the offsets d1 = p1 − p0, d2 = p2 − p0; note the order: both x offsets, then both y offsets.
int mps(double dx1, double dx2, double dy1, double dy2);
// True when (p1 − p0)·(p2 − p0) < 0: p2 lies behind p0 as seen from p1.
bool leftof(const TVektor2& p0, const TVektor2& p1, const TVektor2& p2);
// Signed area, positive when a, b, c run counter-clockwise.
double TriangleArea(const TVektor2& a, const TVektor2& b, const TVektor2& c);

// ---- Intersection family (first operand P + u·D, second Q + t·E) --------------------------------------------

// Segment P1–P2 against segment P3–P4, ends included. t is written as soon as it is known, S on success.
bool schnittSS(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
               TVektor2& s, double& t);
// Half-line from P1 along D against the segment Q, Q + E; t written as soon as known, S on success.
bool schnittHGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double dx2, double dy2,
                TVektor2& s, double& t);
// The same against a 3-D segment; S.z is interpolated on the segment.
bool schnittHGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
                double dy2, double dz2, TVektor3& s);
// Line through P1 against the segment Q, Q + E with its ends excluded.
bool schnittGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double dx2, double dy2,
               TVektor2& s);
bool schnittGS(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
               double dy2, double dz2, TVektor3& s);
// Line against line (the second in 3-D, z interpolated along it).
bool schnittGG(double x1, double y1, double dx1, double dy1, double x3, double y3, double z3, double dx2,
               double dy2, double dz2, TVektor3& s);
bool schnittGG(double x1, double y1, double dx1, double dy1, double x3, double y3, double dx2, double dy2,
               double& x, double& y);
// Half-line against the segment A + t·E carrying two further values (components 2 and 3).
bool schnitt4(double x1, double y1, double dx1, double dy1, const TVektor4& a, const TVektor4& e, TVektor4& s);
// Boolean-only test with margin 0 (exact) or 1e-15; note that Q is passed y before x.
bool schnitt0(bool closed, bool exact, double x1, double y1, double dx1, double dy1, double y3, double x3,
              double dx2, double dy2);
// True only for a crossing inside both segments; flags report an end-point contact and end-to-end touching.
bool StreckenSchnittA(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4,
                      bool& touch, bool& endFirst, bool& endSecond);
bool StreckenSchnitt0(double x1, double y1, double x2, double y2, double x3, double y3, double x4, double y4);

// ---- Perpendiculars and distances --------------------------------------------------------------------------

// Distance from P to the segment A–B when the foot lies on it (ends included); −1 otherwise or for A = B.
double Lot2D(const vektor2& p, const vektor2& a, const vektor2& b);
double LotAufStrecke2D(const TVektor2& p, const TVektor2& a, const TVektor2& b);
// Foot F of P on the line A–B; returns |P − F|.
double LotAufGerade2D(const vektor2& p, const vektor2& a, const vektor2& b, vektor2& f);
double LotAufGerade2D(const TVektor2& p, const TVektor2& a, const TVektor2& b, TVektor2& f);
// Foot on the line y = m·x + c; returns the signed distance (negative below the line).
double LotAufGerade2D(double px, double py, double m, double c, double& fx, double& fy);
double LotAufGerade3D(const TVektor3& p, const TVektor3& a, const TVektor3& b);
double LotAufGerade3D(const TVektor3& p, const TVektor3& a, const TVektor3& b, TVektor3& f);
// Distance from P to the segment A, A + D (3-D); F the nearest point, t its parameter in [0, 1].
double Abstand_Punkt_Strecke(const TVektor3& p, const TVektor3& a, const TVektor3& d, TVektor3& f, double& t);
// Foot F of P on the line A–B and signed distance h (positive left of A → B). A ≠ B.
void normline(const TVektor2& a, const TVektor2& b, const TVektor2& p, TVektor2& f, double& h);
// h as normline, len = |B − A|, s = distance from A to the foot clamped to [0, len].
void projection(const TVektor2& a, const TVektor2& b, const TVektor2& p, double& h, double& s, double& len);
// Where the ray O + t·D meets the plane n·X + d = 0 (n = N normalised).
bool RayPlaneIsn3D(const TVektor3& o, const TVektor3& dir, const TVektor3& n, double d, TVektor3& s);
bool RayPlaneIsn3D(const vektor3& o, const vektor3& dir, vektor3 n, double d, vektor3& s);
// Ray parameters t1 ≥ t2 where O + t·D meets the circle (C, r); both 0 when it misses. D ≠ 0.
bool RaySphereIsn2D(const TVektor2& o, const TVektor2& dir, const TVektor2& c, double r, double& t1, double& t2);
// z of the plane through P1, P2, P3 above (x, y); throws vez::Exception for a vertical plane.
double EbeneZrech(double x, double y, const TVektor3& p1, const TVektor3& p2, const TVektor3& p3);

// ---- Angles, rotations and frames --------------------------------------------------------------------------

// Pseudo-angle in [0, 360) of P1 → P2, monotone in the true angle; s := |dx| + |dy|.
double theta(const TVektor2& p1, const TVektor2& p2, double& s);
double GetTheta(double dx, double dy, double& s);
// Unit vector (c, s) of the direction whose pseudo-angle is th (any real; brought into [0, 360)).
void Arctheta(double th, double& c, double& s);
// A + 2·((B − A)·N)·N: the mirror image of A at the line through B with unit normal N.
TVektor2 Mirror(const TVektor2& a, const TVektor2& b, const TVektor2& n);

// A local frame with origin (x0, y0) and x axis in direction phi.
class TTransForm {
public:
  TTransForm(double phi, double x0, double y0) { Calc(phi, x0, y0); }
  TTransForm(double x0, double y0, double dx, double dy);
  void Calc(double phi, double x0, double y0);
  // Outer frame → local frame.
  void make(const vektor2& p, vektor2& q) const;
  // Local frame → outer frame.
  void back(const vektor2& p, vektor2& q) const;
  TVektor2 makeT(const TVektor2& p) const;
  TVektor2 backT(const TVektor2& p) const;

  TMatrix2x2 Forward{};
  TMatrix2x2 Backward{};
  TVektor2 Origin{};
};

}  // namespace vez
