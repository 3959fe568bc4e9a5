#include "dialogs/dialogbox.h"
