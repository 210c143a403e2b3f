// mingw spells this header in lower case.
#include <powrprof.h>
