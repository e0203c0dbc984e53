/* WCLOCK - CPU time for the Fortran side of HEAT1D.
 *
 * Called from Fortran as CALL WCLOCK(ELAPS), so the C name carries the
 * trailing underscore gfortran adds to external names. */
#include <time.h>

/* COMMON /IOUNIT/ LUN, IVERB seen from C.  A tentative definition:
 * built with -fcommon it is a COFF common symbol of 8 bytes, just as
 * the Fortran declarations are. */
struct { int lun; int iverb; } iounit_;

/* Calls so far; a plain tentative definition, so also common (4). */
int ncalls;

/* Initialised data: defined in .data, not common. */
int clock_hz = CLOCKS_PER_SEC;

/* Start time, file-local: a static symbol, not external. */
static clock_t start;

void wclock_(float *t)
{
    if (ncalls++ == 0)
        start = 0;
    *t = (float) (clock() - start) / (float) clock_hz;
}
