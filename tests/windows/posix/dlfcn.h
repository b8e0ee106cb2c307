// dlopen and dlsym for the Windows builds of the tests.
#pragma once

#include "../PosixShims.h"
