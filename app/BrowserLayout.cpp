#include "BrowserLayout.h"

#include "Encodings.h"

namespace browserlayout {

Resize resize(int clientWidth, int clientHeight, int cboAddressLeft, int chkSaveWidth)
{
    Resize r;
    if (clientWidth - chkSaveWidth > widthMargin) {
        r.widthsChanged = true;
        r.cboAddressWidth = clientWidth - chkSaveWidth - widthMargin;
        r.chkSaveLeft = cboAddressLeft + r.cboAddressWidth + 200;
        r.browserWidth = clientWidth - 50;
        r.picAddressWidth = clientWidth + 10;
    }
    if (clientHeight > minimumHeight) {
        r.heightChanged = true;
        r.browserHeight = clientHeight - (topPictHeight + picAddressHeight + statusHeight);
    }
    return r;
}

QString caption(const QString& address, const QString& title, const QString& productTitle)
{
    if (trimSpaces(address).size() <= 1 || address == QLatin1String("about:blank"))
        return productTitle;
    return title;
}

QStringList historyAfterCommit(QStringList history, const QString& address)
{
    const qsizetype found = history.indexOf(address);
    if (found >= 0)
        history.removeAt(found);
    history.prepend(address);
    return history;
}

QString labelForTitle(const QString& title)
{
    return title.left(50);
}

} // namespace browserlayout
