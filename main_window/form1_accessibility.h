// What a screen reader reads of Form1: a name for every control, a
// description where the name alone says too little, and the beat display as
// words ("beat 2 of 4"), the lit circle as the checked one. Keyboard use
// needs nothing here: the tab order is the layout's, arrows move within the
// option group and Space presses the focused button, as Qt's controls do.
#pragma once

class Form1;

void describeForAccessibility(Form1 &form);
