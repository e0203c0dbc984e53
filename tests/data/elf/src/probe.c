/* C side of the rod code. With -fcommon, an uninitialised global is a COMMON
   declaration: mesh_ here is the Fortran /MESH/ seen as 804 bytes, the size
   of the main program. verbose_ is an ordinary initialised variable that no
   object declares as COMMON: it never appears in the report. output_ is
   defined weak, which initialises nothing. */
float mesh_[201];
int verbose_ = 1;
__attribute__((weak)) int output_ = 6;

static int clamp(int v) { return v < 0 ? 0 : v; }

int probe_(int *i) { return clamp(*i) + verbose_ + (int)mesh_[0] + output_; }
