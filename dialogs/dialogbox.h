// Popups drawn over a saved copy of the screen.
#pragma once
