// Recursive copy, move and recursive delete of one directory entry.
#pragma once
