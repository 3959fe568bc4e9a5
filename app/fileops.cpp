#include "app/fileops.h"
