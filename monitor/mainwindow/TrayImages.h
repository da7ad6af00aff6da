// The tray icon's pictures: an envelope with a sign for each state, drawn
// here at every size a notification area asks for. Each list is an
// animation the tray icon cycles through; picture 0 of the checking list is
// also the resting icon.
#pragma once

class TImageList;

void FillCheckingImages(TImageList &list);  // envelope, then a turning blue arrow
void FillNewMailImages(TImageList &list);   // golden envelope with a pulsing red dot
void FillErrorImages(TImageList &list);     // red cross, blinking
void FillUpdatingImages(TImageList &list);  // green arrow moving down
