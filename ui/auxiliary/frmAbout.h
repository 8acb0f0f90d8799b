#pragma once
// The About window: title, version, a support notice, and a button that starts the system
// information tool. OK (or Enter, or Esc) closes and deletes it; the next use makes a new one.

#include <QDialog>
#include <memory>

#include "platform/Launcher.h"
#include "platform/Registry.h"
#include "ui/WindowContext.h"

class QFrame;
class QLabel;
class QPushButton;

namespace tq {

class frmAbout : public QDialog {
    Q_OBJECT
public:
    // With the machine's registry and program launcher.
    explicit frmAbout(WindowContext& context, QWidget* parent = nullptr);
    frmAbout(WindowContext& context, std::unique_ptr<RegistryApi> registry,
             std::unique_ptr<ProgramLauncher> launcher, QWidget* parent = nullptr);
    ~frmAbout() override;

    // Finds the system information tool in the registry and starts it without waiting; when it
    // cannot, says so in a message box.
    void StartSysInfo();

    void cmdOK_Click();
    void cmdSysInfo_Click();

private:
    void Form_Load();

    WindowContext& ctx_;
    std::unique_ptr<RegistryApi> registry_;
    std::unique_ptr<ProgramLauncher> launcher_;
    QLabel* picIcon_;
    QLabel* lblTitle_;
    QLabel* lblVersion_;
    QLabel* lblDescription_;
    QFrame* Line1_;
    QPushButton* cmdOK_;
    QPushButton* cmdSysInfo_;
};

}  // namespace tq
