#pragma once

#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace corvane {
class DatasourceManager;
class Settings;
}

namespace corvane::desktop {

class PocketAccountRow;

class EngineBridge;
class KeywordsField;

// The general pane: the new-item sound, item limits, refresh rates, start
// at login, the default feed reader, stars, keywords and cloud sync.
class GeneralPreferencesController : public QWidget
{
    Q_OBJECT
public:
    struct Options
    {
        // Plays an event sound; the desktop's sound theme when none.
        std::function<bool(const QString &)> playSound;
    };

    GeneralPreferencesController(DatasourceManager &engine, EngineBridge &bridge, Settings &settings,
                                 const Options &options, QWidget *parent = nullptr);

    QComboBox *soundList() const { return m_sounds; }
    QLineEdit *limitField() const { return m_limit; }
    QLineEdit *ageLimitField() const { return m_ageLimit; }
    QLineEdit *batteryRefreshField() const { return m_batteryRefresh; }
    QCheckBox *openAtLoginBox() const { return m_openAtLogin; }
    QComboBox *readerList() const { return m_readers; }
    QCheckBox *cloudSyncBox() const { return m_cloudSync; }
    PocketAccountRow *pocketRow() const { return m_pocket; }
    KeywordsField *keywordsField() const { return m_keywords; }

    // Fills the sound list from the installed sound themes.
    void rebuildSoundList();
    // Fills the reader list with the applications that open feed links.
    void rebuildReaderList();
    void chooseSound(int index);
    void chooseReader(int index);
    void setOpenAtLogin(bool on);
    // Unstars every item.
    void deleteStarred();

private:
    DatasourceManager &m_engine;
    EngineBridge &m_bridge;
    Settings &m_settings;
    std::function<bool(const QString &)> m_playSound;
    QComboBox *m_sounds = nullptr;
    QLineEdit *m_limit = nullptr;
    QLineEdit *m_ageLimit = nullptr;
    QLineEdit *m_refreshRate = nullptr;
    QLineEdit *m_batteryRefresh = nullptr;
    QCheckBox *m_openAtLogin = nullptr;
    QComboBox *m_readers = nullptr;
    QLabel *m_message = nullptr;
    QCheckBox *m_cloudSync = nullptr;
    PocketAccountRow *m_pocket = nullptr;
    KeywordsField *m_keywords = nullptr;
};

} // namespace corvane::desktop
