#include "ui/auxiliary/frmAbout.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <optional>
#include <string>

#include "core/Version.h"
#include "ui/widgets/Twips.h"

namespace tq {

namespace {

const QString kSysInfoUnavailable =
    QStringLiteral("System Information Is Unavailable At This Time");

// Where Windows records the system information tool: its full path, or else its folder.
constexpr const char* kSysInfoPathKey = "SOFTWARE\\Microsoft\\Shared Tools\\MSINFO";
constexpr const char* kSysInfoPathValue = "PATH";
constexpr const char* kSysInfoFolderKey = "SOFTWARE\\Microsoft\\Shared Tools Location";
constexpr const char* kSysInfoFolderValue = "MSINFO";
constexpr const char* kSysInfoFile = "\\MSINFO32.EXE";

QString VersionText() {
    return QStringLiteral("Version  %1.%2.%3")
        .arg(kVersionMajor)
        .arg(kVersionMinor)
        .arg(kVersionRevision);
}

// The tool's full path when it is registered, else its registered folder with the file name when
// that file exists.
std::optional<std::string> SysInfoPath(RegistryApi& registry, ProgramLauncher& launcher) {
    std::string path;
    if (GetKeyValue(registry, kHkeyLocalMachine, kSysInfoPathKey, kSysInfoPathValue, path))
        return path;
    std::string folder;
    if (!GetKeyValue(registry, kHkeyLocalMachine, kSysInfoFolderKey, kSysInfoFolderValue, folder))
        return std::nullopt;
    path = folder + kSysInfoFile;
    if (!launcher.FileExists(path))
        return std::nullopt;
    return path;
}

}  // namespace

frmAbout::frmAbout(WindowContext& context, QWidget* parent)
    : frmAbout(context, SystemRegistry(), SystemLauncher(), parent) {}

frmAbout::frmAbout(WindowContext& context, std::unique_ptr<RegistryApi> registry,
                   std::unique_ptr<ProgramLauncher> launcher, QWidget* parent)
    : QDialog(parent),
      ctx_(context),
      registry_(std::move(registry)),
      launcher_(std::move(launcher)) {
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(Twips(0, 0, 5730, 3555).size());

    picIcon_ = new QLabel(this);
    picIcon_->setObjectName(QStringLiteral("picIcon"));
    PlaceTwips(picIcon_, 240, 240, 540, 540);
    QIcon icon = QApplication::windowIcon();
    if (icon.isNull())
        icon = style()->standardIcon(QStyle::SP_ComputerIcon);
    picIcon_->setPixmap(icon.pixmap(32, 32));

    auto label = [&](const char* name, int top, int height, double points) {
        auto* l = new QLabel(this);
        l->setObjectName(QLatin1String(name));
        l->setAlignment(Qt::AlignCenter);
        l->setFont(BoldSans(points));
        PlaceTwips(l, 1050, top, 4440, height);
        return l;
    };
    lblTitle_ = label("lblTitle", 240, 480, 12);
    lblVersion_ = label("lblVersion", 780, 300, 8.25);
    lblDescription_ = label("lblDescription", 1200, 1080, 8.25);
    lblDescription_->setWordWrap(true);
    lblDescription_->setText(
        tr("Control program for the TQ2604X evaluation board.\nFor technical support, documents "
           "and updates, please visit the board maker's web site."));

    // One etched line: the white and the grey stroke together.
    Line1_ = new QFrame(this);
    Line1_->setObjectName(QStringLiteral("Line1"));
    Line1_->setFrameShape(QFrame::HLine);
    Line1_->setFrameShadow(QFrame::Sunken);
    PlaceTwips(Line1_, 120, 2430, 5490, 30);

    cmdOK_ = new QPushButton(QStringLiteral("OK"), this);
    cmdOK_->setObjectName(QStringLiteral("cmdOK"));
    PlaceTwips(cmdOK_, 4245, 2625, 1260, 345);
    cmdOK_->setDefault(true);
    cmdSysInfo_ = new QPushButton(QStringLiteral("&System Info..."), this);
    cmdSysInfo_->setObjectName(QStringLiteral("cmdSysInfo"));
    PlaceTwips(cmdSysInfo_, 4245, 3075, 1260, 345);
    setTabOrder(cmdOK_, cmdSysInfo_);

    connect(cmdOK_, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
    connect(cmdSysInfo_, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

    Form_Load();
}

frmAbout::~frmAbout() = default;

void frmAbout::Form_Load() {
    setWindowTitle(QStringLiteral("About ") + QString::fromLatin1(kProgramTitle));
    lblTitle_->setText(QString::fromLatin1(kProgramTitle));
    lblVersion_->setText(VersionText());
}

void frmAbout::cmdOK_Click() {
    close();
}

void frmAbout::cmdSysInfo_Click() {
    StartSysInfo();
}

void frmAbout::StartSysInfo() {
    bool started = false;
    try {
        if (const auto path = SysInfoPath(*registry_, *launcher_))
            started = launcher_->StartDetached(*path);
    } catch (const RegistryError&) {
        // An answer the look-up cannot read: the tool is as unavailable as when it is missing.
    }
    if (!started)
        ctx_.messages.ShowMessage(this, MessageIcon::None, kSysInfoUnavailable,
                                  QString::fromLatin1(kProgramTitle));
}

}  // namespace tq
