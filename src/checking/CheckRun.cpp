#include "app/Form1.h"

// The check run and the pause help arrive with the checking work.
void Form1::PushButton4_Click() {}
void Form1::PushButton12_Click() {}
