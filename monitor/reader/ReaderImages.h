// The message reader's pictures, drawn here rather than shipped as files:
// the tool buttons' (ImageList1) and the list rows' (ImageList2).
#pragma once

#include <QIcon>

// ImageList1: 0 reload, 1 delete, 2 add sender to a rule, 3 fetch the body,
// 4 un-hide (the message is hidden now), 5 hide.
QIcon ReaderToolImage(int index);
// ImageList2: 0 a listed message, 1 a message hidden from the checks.
QIcon ReaderRowImage(int index);
