/* Built into the stand-in libraries on Windows only, whose C library keeps the environment with
   _putenv_s instead. */
#include <stdlib.h>
#define setenv(name, value, overwrite) _putenv_s(name, value)
