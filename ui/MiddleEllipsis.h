#pragma once

class wxListBox;

// Makes the native list show each line's start and end with an ellipsis in the middle when
// the line is wider than the list, instead of cutting its end off. The lines' texts stay as
// they are.
void EllipsizeLinesInTheMiddle(wxListBox* list);
