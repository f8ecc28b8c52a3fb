#include "documentwindow.h"

#include "ticker/browser.h"

#include <QFile>
#include <QShortcut>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace corvane::desktop {

DocumentWindow::DocumentWindow(const QString &title, const QString &resource, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_browser(new QTextBrowser(this))
{
    setWindowTitle(title);
    setAttribute(Qt::WA_QuitOnClose, false);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_browser);
    m_browser->setOpenLinks(false);
    m_browser->setFrameShape(QFrame::NoFrame);
    m_browser->document()->setDocumentMargin(18);
    connect(m_browser, &QTextBrowser::anchorClicked, this, [](const QUrl &url) { browser::open(url.toString()); });
    QFile file(resource);
    if (file.open(QIODevice::ReadOnly))
        m_browser->setHtml(QString::fromUtf8(file.readAll()));
    QFont font = m_browser->font();
    font.setPointSizeF(font.pointSizeF() * 1.02);
    m_browser->setFont(font);
    new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &QWidget::close);
    resize(540, 460);
}

void DocumentWindow::present(bool floating)
{
    setWindowFlag(Qt::WindowStaysOnTopHint, floating);
    show();
    raise();
    activateWindow();
}

QString DocumentWindow::documentText() const
{
    return m_browser->toPlainText();
}

} // namespace corvane::desktop
