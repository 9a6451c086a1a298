#include "app/Form1.h"

// The skin arrives with the appearance work; until then the window keeps the
// platform's look.
void Form1::ApplySkin() {}
