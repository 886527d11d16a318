#pragma once

#include <QString>
#include <QStringList>

// Geometry and text rules of the browser window, free of widgets. Sizes in twips.
namespace browserlayout {

// The window's fixed design sizes.
inline constexpr int browserTop = 1320;
inline constexpr int topPictHeight = 615;
inline constexpr int picAddressHeight = 705;
inline constexpr int statusHeight = 250;
inline constexpr int widthMargin = 400; // beyond the Recording box's width
inline constexpr int minimumHeight = 2000;

// What a resize changes; a part the window is too small for keeps its sizes.
struct Resize
{
    bool widthsChanged = false;
    int cboAddressWidth = 0;
    int chkSaveLeft = 0;
    int browserWidth = 0;
    int picAddressWidth = 0;
    bool heightChanged = false;
    int browserHeight = 0;
};

// W and H: the client area; the address box's left and the Recording box's width as they stand.
Resize resize(int clientWidth, int clientHeight, int cboAddressLeft, int chkSaveWidth);

// The caption for a page address and title.
QString caption(const QString& address, const QString& title, const QString& productTitle);

// The address history after a commit of address: moved to the top, no duplicate.
QStringList historyAfterCommit(QStringList history, const QString& address);

// The label a page title gives a step.
QString labelForTitle(const QString& title);

} // namespace browserlayout
