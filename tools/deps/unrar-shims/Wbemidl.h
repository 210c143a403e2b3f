// mingw spells this header in lower case.
#include <wbemidl.h>
