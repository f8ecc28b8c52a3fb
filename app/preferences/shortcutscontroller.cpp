#include "shortcutscontroller.h"

#include "hotkeyregistrar.h"

#include "ticker/mainwindowcontroller.h"

#include "base/settings.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeySequenceEdit>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace corvane::desktop {

ShortcutsController::ShortcutsController(Settings &settings, HotKeyBackend *backend, MainWindowController *controller,
                                         QWidget *parent)
    : QWidget(parent)
    , m_settings(settings)
    , m_controller(controller)
    , m_registrar(new HotKeyRegistrar(settings, backend, this))
{
    const QStringList titles = {tr("Mark all items read:"), tr("Mark all items unread:"),
                                tr("Show or hide read items:"), tr("Star the current item:"),
                                tr("Show or hide the bar:")};
    auto *form = new QFormLayout;
    const QStringList &keys = HotKeyRegistrar::shortcutKeys();
    for (qsizetype i = 0; i < keys.size(); ++i) {
        auto *recorder = new QKeySequenceEdit(HotKeyRegistrar::storedShortcut(settings, keys[i]));
        recorder->setClearButtonEnabled(true);
        m_recorders.insert(keys[i], recorder);
        form->addRow(titles[i], recorder);
        connect(recorder, &QKeySequenceEdit::editingFinished, this, &ShortcutsController::recordersChanged);
        connect(recorder, &QKeySequenceEdit::keySequenceChanged, this, [this, recorder](const QKeySequence &sequence) {
            // One key with its modifiers per shortcut.
            if (sequence.count() > 1)
                recorder->setKeySequence(QKeySequence(sequence[0]));
            else if (sequence.isEmpty() && !recorder->hasFocus())
                recordersChanged(); // the clear button
        });
    }
    auto *note = new QLabel(tr("These keys work in every application. Where the desktop keeps its own shortcut "
                               "settings, they are listed there under “Corvane” as well."));
    note->setWordWrap(true);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(note);
    layout->addStretch();

    connect(m_registrar, &HotKeyRegistrar::hotKeyPressed, this, &ShortcutsController::hotkeyPressed);
    connect(m_registrar, &HotKeyRegistrar::hotKeyReleased, this, &ShortcutsController::hotkeyReleased);
    m_registrar->reregister();
}

void ShortcutsController::recordersChanged()
{
    for (const QString &key : HotKeyRegistrar::shortcutKeys()) {
        const QKeySequence sequence = m_recorders.value(key)->keySequence();
        if (sequence.isEmpty() || !m_recorders.value(key)->isEnabled())
            m_settings.setValue(key, 0);
        else
            m_settings.setValue(key, QKeySequence(sequence[0]).toString(QKeySequence::PortableText));
    }
    m_registrar->reregister();
}

void ShortcutsController::hotkeyPressed(int identifier, const QString &key)
{
    if (key == u"ShortcutToggleShowHideRead") {
        m_settings.setValue(QStringLiteral("autoHide"), !m_settings.boolean(QStringLiteral("autoHide")));
        return;
    }
    if (!m_controller)
        return;
    if (key == u"ShortcutMarkAllRead")
        m_controller->markAllRead();
    else if (key == u"ShortcutMarkAllUnread")
        m_controller->markAllUnread();
    else if (key == u"ShortcutMarkStarred")
        m_controller->toggleCurrentStarred();
    else if (key == u"ShortcutToggleMainWindow")
        m_controller->miniaturize();
    else
        m_controller->hotkeyPressed(identifier);
}

void ShortcutsController::hotkeyReleased(int identifier)
{
    if (m_controller)
        m_controller->hotkeyReleased(identifier);
}

} // namespace corvane::desktop
