// Labels of a fixed size keep their whole text whatever faces the machine has.
#pragma once

class QLabel;

// Gives the label's font the designed pixel size, then makes it smaller a pixel at a time, down
// to minPixels, until the label shows its whole text in its present size. Call it again after
// every change of text or size.
void FitLabelText(QLabel* label, int pixels, int minPixels = 8);
