// A file the layout test must refuse: the engine including the window.
#include "../window/app/Form1.h"
