#pragma once

#include <QMessageBox>

#include <string>

// The Qt icon of a message-box style's icon bits.
QMessageBox::Icon ZELQtMessageBoxIcon(unsigned int style);

// The launcher's message box in a graphical session: a Qt box with the caption, text, icon and
// buttons of the style; returns the button pressed (ZEL_IDOK, ZEL_IDCANCEL, ZEL_IDYES, ZEL_IDNO).
// Makes the process's application object when there is none yet.
int ZELRunShowGraphicalBox(const std::string& text, const std::string& caption, unsigned int style);
