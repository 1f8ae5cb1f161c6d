#pragma once

// The welcome window: greets the user, shows whether Ableton is connected and offers the two
// next steps, connecting (the settings window) and the first category or the library. The
// application controller owns it, fills in the callables and keeps it; closing only hides it.

#include <QObject>
#include <QPoint>
#include <QString>

#include <functional>
#include <memory>

class QLabel;
class QWidget;
class VintrelleGlassButton;
class VintrelleWelcomeArt;
class VintrelleWelcomePanel;
class VintrelleWelcomeStatus;

class VintrelleNativeWelcome : public QObject
{
    Q_OBJECT

public:
    static constexpr int dragStripHeight = 30;

    explicit VintrelleNativeWelcome(bool translucent);
    ~VintrelleNativeWelcome() override;

    static QString connectTitle(bool connected);
    static QString libraryTitle(bool hasLibrary);

    // The status and both button titles.
    void updateConnected(bool connected, bool hasLibrary);
    // Shows the window with its top-left corner at `topLeft` (global), in front and focused, and
    // starts the background's motion.
    void openAtPoint(const QPoint &topLeft);
    // Stops the motion and hides the window, without telling onClose.
    void hide();
    void setReducedMotion(bool reduced);

    // The buttons' actions. Without onConnect the connect button is disabled.
    void connectPressed();
    void libraryPressed();

    std::function<void()> onConnect;
    std::function<void()> onLibrary;
    std::function<void()> onClose;              // Escape or the window manager closed the window
    std::function<void(QWidget *window)> onMoved;

    QWidget *window() const;
    bool isVisible() const;
    VintrelleWelcomeStatus *header() const { return m_header; }
    VintrelleWelcomeArt *art() const { return m_art; }
    VintrelleGlassButton *connectButton() const { return m_connectButton; }
    VintrelleGlassButton *libraryButton() const { return m_libraryButton; }
    QLabel *heading() const { return m_heading; }
    QLabel *firstLine() const { return m_firstLine; }
    QLabel *secondLine() const { return m_secondLine; }

private:
    std::unique_ptr<VintrelleWelcomePanel> m_panel;
    VintrelleWelcomeArt *m_art;
    VintrelleWelcomeStatus *m_header;
    QLabel *m_heading;
    QLabel *m_firstLine;
    QLabel *m_secondLine;
    VintrelleGlassButton *m_connectButton;
    VintrelleGlassButton *m_libraryButton;
};
