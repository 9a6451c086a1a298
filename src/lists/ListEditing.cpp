#include "app/Form1.h"

// List editing arrives with the lists work.
void Form1::PushButton5_Click() {}
void Form1::PushButton8_Click() {}
void Form1::PushButton11_Click() {}
void Form1::PushButton9_Click() {}
void Form1::PushButton2_Click() {}
void Form1::PushButton7_Click() {}
void Form1::ListView1_KeyDown(int, int) {}
void Form1::ListView2_KeyDown(int, int) {}
void Form1::ListView3_KeyDown(int, int) {}
void Form1::ListView1_DblClick() {}
void Form1::ListView2_DblClick() {}
void Form1::ListView3_DblClick() {}
void Form1::ListView3_Click() {}
void Form1::PushButton3_Click() {}
void Form1::PushButton6_Click() {}
void Form1::PushButton1_Click() {}
