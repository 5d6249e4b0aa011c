// The program's entry: everything happens in the run driver.
#include "cli/run_driver.h"

ZOROV_MAIN_SIGNATURE { zorov::run_copy(argc, argv); }
