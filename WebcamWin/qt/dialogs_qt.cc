#include "WebcamWin/qt/dialogs_qt.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHostInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QNetworkInterface>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "WebcamWin/app/app_info.h"
#include "WebcamWin/controller/dialog_strings.h"
#include "WebcamWin/controller/ui_rules.h"
#include "WebcamWin/platform/desktop.h"
#include "WebcamWin/platform/xdg_posix.h"
#include "WebcamWin/platform/resource_library.h"
#include "WebcamWin/qt/artwork_qt.h"
#include "WebcamWin/qt/texts_qt.h"
#include "WebcamWin/settings/settings.h"
#include "WebcamWin/settings/settings_dialog.h"
#include "WebcamWin/suite/wavehost.h"
#include "base/logging.h"
#include "base/message_loop.h"

namespace {

constexpr uint32_t kIdsTip = 50125;
constexpr uint32_t kIdsRights = 50126;
constexpr uint32_t kIdsStartAtLogin = 50127;
constexpr uint32_t kIdsShowNotifications = 50128;
constexpr uint32_t kIdsMirror = 50129;
constexpr uint32_t kIdsPcName = 50130;
constexpr uint32_t kIdsAddresses = 50131;
constexpr uint32_t kIdsPort = 50132;
constexpr uint32_t kIdsPicturesFolder = 50133;
constexpr uint32_t kIdsVideosFolder = 50134;
constexpr uint32_t kIdsPageCamera = 50135;
constexpr uint32_t kIdsCameraSize = 50136;
constexpr uint32_t kIdsCameraOutputs = 50137;
constexpr uint32_t kIdsNextStart = 50138;
constexpr uint32_t kIdsChooseDirectory = 50139;
constexpr uint32_t kIdsUnexpectedError = 50140;
constexpr uint32_t kIdsNoSoundServer = 50141;

// The whole loop ends only with the window's destruction, whose code is 1.
constexpr int kLoopEndCode = 1;
// Windows file times count 100 ns from 1601; Unix seconds from 1970.
constexpr uint64_t kFileTimeUnitsPerSecond = 10000000;
constexpr uint64_t kSecondsFrom1601To1970 = 11644473600ULL;

QLabel* link(const QString& caption, std::function<void()> action, QWidget* parent) {
  auto* label = new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(caption.toHtmlEscaped()), parent);
  label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  QObject::connect(label, &QLabel::linkActivated, label, [action](const QString&) { action(); });
  return label;
}

QLabel* wrapped(const QString& text, QWidget* parent) {
  auto* label = new QLabel(text, parent);
  label->setWordWrap(true);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse);
  return label;
}

void openHelp() { shell::openWithShell(loadString(kIdsOnlineHelpAddress)); }

}  // namespace

QString uiText(uint32_t id) { return toQt(loadString(id)); }

int runModal(QDialog* dialog) {
  base::MessageLoop* loop = base::MessageLoop::current();
  if (!loop) return dialog->exec();
  dialog->setWindowModality(Qt::ApplicationModal);
  dialog->show();
  dialog->raise();
  dialog->activateWindow();
  while (dialog->isVisible()) {
    if (loop->runFor(50)) {
      loop->quit(kLoopEndCode);  // for the run() that owns the loop
      dialog->reject();
      break;
    }
  }
  return dialog->result();
}

int showMessageBox(QWidget* parent, const base::string16& text, uint32_t type) {
  QMessageBox box(parent);
  box.setWindowTitle(toQt(kProductName));
  box.setText(text.empty() ? uiText(kIdsUnexpectedError) : toQt(text));
  box.setIcon((type & kMbIconError) ? QMessageBox::Critical
              : (type & kMbYesNo)   ? QMessageBox::Question
                                    : QMessageBox::Information);
  if (type & kMbYesNo) {
    box.addButton(uiText(kIdsYes), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(uiText(kIdsNo), QMessageBox::NoRole));
  } else {
    box.addButton(uiText(kIdsOk), QMessageBox::AcceptRole);
  }
  runModal(&box);
  QAbstractButton* pressed = box.clickedButton();
  if (!(type & kMbYesNo)) return kIdOk;
  return pressed && box.buttonRole(pressed) == QMessageBox::YesRole ? kIdYes : kIdNo;
}

// --- the prompt --------------------------------------------------------------

AuthorizationPrompt::AuthorizationPrompt(const base::string16& name, const base::string16& uid,
                                         std::function<void(CMainFrame::AuthAnswer)> answered)
    : QDialog(nullptr, Qt::Window | Qt::WindowStaysOnTopHint), answered_(std::move(answered)) {
  setWindowTitle(QStringLiteral("New device"));
  setWindowIcon(productIcon());
  setAttribute(Qt::WA_DeleteOnClose, false);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 20);
  layout->setSpacing(10);
  auto* head = new QHBoxLayout;
  auto* phone = new QLabel(this);
  phone->setPixmap(productIcon().pixmap(48, 48));
  phone->setAlignment(Qt::AlignTop);
  head->addWidget(phone);
  auto* texts = new QVBoxLayout;
  texts->addWidget(wrapped(uiText(kIdsQuestion), this));
  auto* device = new QLabel(toQt(withArgument(loadString(kIdsDeviceName), name)), this);
  QFont bold = device->font();
  bold.setBold(true);
  device->setFont(bold);
  device->setTextFormat(Qt::PlainText);
  device->setObjectName(QStringLiteral("deviceName"));
  texts->addWidget(device);
  auto* id = new QLabel(toQt(withArgument(loadString(kIdsUniqueId), uid)), this);
  id->setTextFormat(Qt::PlainText);
  id->setForegroundRole(QPalette::PlaceholderText);
  id->setTextInteractionFlags(Qt::TextSelectableByMouse);
  texts->addWidget(id);
  texts->addSpacing(6);
  texts->addWidget(wrapped(uiText(kIdsAllowQuestion), this));
  head->addLayout(texts, 1);
  layout->addLayout(head);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  struct Choice {
    uint32_t caption;
    CMainFrame::AuthAnswer answer;
  };
  for (const Choice& choice : {Choice{kIdsAllowAlways, CMainFrame::AuthAnswer::kAllowAlways},
                               Choice{kIdsAllow, CMainFrame::AuthAnswer::kAllowOnce},
                               Choice{kIdsDeny, CMainFrame::AuthAnswer::kDeny}}) {
    auto* button = new QPushButton(uiText(choice.caption), this);
    button->setAutoDefault(false);
    if (choice.answer == CMainFrame::AuthAnswer::kAllowOnce) button->setDefault(true);
    const CMainFrame::AuthAnswer answer = choice.answer;
    connect(button, &QPushButton::clicked, this, [this, answer] {
      if (answered_) answered_(answer);
    });
    buttons->addWidget(button);
  }
  layout->addLayout(buttons);
  setMinimumWidth(460);
}

void AuthorizationPrompt::present() {
  show();
  setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
  raise();
  activateWindow();
}

void AuthorizationPrompt::closeEvent(QCloseEvent* event) {
  // Closing the prompt without a button refuses the phone; the controller
  // closes it.
  event->ignore();
  if (answered_) answered_(CMainFrame::AuthAnswer::kDeny);
}

// --- the access list ---------------------------------------------------------

AccessListDialog::AccessListDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(uiText(kIdsAccessList));
  auto* layout = new QVBoxLayout(this);
  list_ = new QTreeWidget(this);
  list_->setRootIsDecorated(false);
  list_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list_->setAllColumnsShowFocus(true);
  list_->setHeaderLabels({uiText(kIdsColumnName), uiText(kIdsColumnUid), uiText(kIdsColumnStatus)});
  list_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
  layout->addWidget(list_);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(wrapped(uiText(kIdsAclHint), this), 1);
  auto* remove = new QPushButton(QIcon::fromTheme(QStringLiteral("edit-delete")), uiText(kIdsDelete), this);
  remove->setEnabled(false);
  connect(remove, &QPushButton::clicked, this, [this] { deleteSelected(); });
  connect(list_, &QTreeWidget::itemSelectionChanged, remove,
          [this, remove] { remove->setEnabled(!list_->selectedItems().isEmpty()); });
  bottom->addWidget(remove);
  auto* ok = new QPushButton(uiText(kIdsOk), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  bottom->addWidget(ok);
  layout->addLayout(bottom);
  resize(560, 320);
  fill();
}

void AccessListDialog::fill() {
  list_->clear();
  for (const auto& entry : CSettings::Instance().accessList()) {
    auto* row = new QTreeWidgetItem(list_);
    row->setText(0, toQt(entry.second.name));
    row->setText(1, toQt(entry.first));
    row->setText(2, uiText(entry.second.status != 0 ? kIdsAllow : kIdsDeny));
  }
  list_->resizeColumnToContents(0);
}

void AccessListDialog::deleteSelected() {
  const QList<QTreeWidgetItem*> selected = list_->selectedItems();
  if (selected.isEmpty()) return;
  if (showMessageBox(this, loadString(kIdsConfirmDelete), kMbYesNo) != kIdYes) return;
  std::vector<base::string16> uids;
  for (QTreeWidgetItem* row : selected) uids.push_back(fromQt(row->text(1)));
  CMainFrame::removeFromAccessList(uids);
  fill();
}

void AccessListDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Delete || event->key() == Qt::Key_Backspace) {
    deleteSelected();
    return;
  }
  QDialog::keyPressEvent(event);
}

// --- settings ----------------------------------------------------------------

SettingsDialog::SettingsDialog(SettingsDialogState* state, CMainFrame* frame, QWidget* parent)
    : QDialog(parent), state_(state), frame_(frame) {
  setWindowTitle(toQt(loadString(50004)));
  auto* layout = new QVBoxLayout(this);
  pages_ = new QTabWidget(this);
  pages_->addTab(makeGeneral(), uiText(kIdsPageGeneral));
  pages_->addTab(makeNetwork(), uiText(kIdsPageNetwork));
  pages_->addTab(makeFolders(), uiText(kIdsPageFolders));
  pages_->addTab(makeAudio(), uiText(kIdsPageAudio));
  pages_->addTab(makeCamera(), uiText(kIdsPageCamera));
  layout->addWidget(pages_);
  auto* bottom = new QHBoxLayout;
  auto* access = new QPushButton(uiText(kIdsAccessList), this);
  access->setAutoDefault(false);
  connect(access, &QPushButton::clicked, this, [this] {
    AccessListDialog list(this);
    runModal(&list);
  });
  bottom->addWidget(access);
  bottom->addStretch(1);
  auto* ok = new QPushButton(uiText(kIdsOk), this);
  ok->setDefault(true);
  auto* cancel = new QPushButton(uiText(kIdsCancel), this);
  cancel->setAutoDefault(false);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
  bottom->addWidget(ok);
  bottom->addWidget(cancel);
  layout->addLayout(bottom);
  resize(540, 360);
}

QWidget* SettingsDialog::makeGeneral() {
  const CSettings& settings = CSettings::Instance();
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  atLogin_ = new QCheckBox(uiText(kIdsStartAtLogin), page);
  atLogin_->setChecked(settings.runOnStartup());
  notifications_ = new QCheckBox(uiText(kIdsShowNotifications), page);
  notifications_->setChecked(settings.showNotifications());
  mirror_ = new QCheckBox(uiText(kIdsMirror), page);
  mirror_->setChecked(settings.mirrorImage());
  layout->addWidget(atLogin_);
  layout->addWidget(notifications_);
  layout->addWidget(mirror_);
  layout->addSpacing(12);
  layout->addWidget(link(uiText(kIdsOnlineHelp), openHelp, page));
  layout->addStretch(1);
  return page;
}

QWidget* SettingsDialog::makeNetwork() {
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  // The name takes no input and no focus.
  auto* name = new QLineEdit(toQt(state_->pcName.empty() ? fromQt(QHostInfo::localHostName()) : state_->pcName), page);
  name->setReadOnly(true);
  name->setFocusPolicy(Qt::NoFocus);
  form->addRow(uiText(kIdsPcName), name);
  auto* addresses = new QListWidget(page);
  addresses->setSelectionMode(QAbstractItemView::NoSelection);
  for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
    if (address.isLoopback() || address.protocol() != QAbstractSocket::IPv4Protocol) continue;
    addresses->addItem(address.toString());
  }
  addresses->setMaximumHeight(96);
  form->addRow(uiText(kIdsAddresses), addresses);
  port_ = new QLineEdit(state_->port != 0 ? QString::number(state_->port) : toQt(state_->portInUse), page);
  port_->setMaxLength(20);
  port_->setMaximumWidth(120);
  form->addRow(uiText(kIdsPort), port_);
  return page;
}

QWidget* SettingsDialog::makeFolders() {
  const CSettings& settings = CSettings::Instance();
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  pictures_ = new QComboBox(page);
  videos_ = new QComboBox(page);
  fillFolder(pictures_, settings.picturesFolder());
  fillFolder(videos_, settings.moviesFolder());
  for (QComboBox* box : {pictures_, videos_}) {
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    const bool pictures = box == pictures_;
    connect(box, qOverload<int>(&QComboBox::activated), this, [this, box, pictures](int row) {
      if (row == box->count() - 1) chooseFolder(box, pictures);
    });
  }
  form->addRow(uiText(kIdsPicturesFolder), pictures_);
  form->addRow(uiText(kIdsVideosFolder), videos_);
  return page;
}

void SettingsDialog::fillFolder(QComboBox* box, const base::string16& folder) {
  box->clear();
  box->addItem(QIcon::fromTheme(QStringLiteral("folder")), toQt(folder));
  box->addItem(uiText(kIdsChooseFolder));
  box->setCurrentIndex(0);
}

void SettingsDialog::chooseFolder(QComboBox* box, bool pictures) {
  CSettings& settings = CSettings::Instance();
  const base::string16 current = pictures ? settings.picturesFolder() : settings.moviesFolder();
  QFileDialog browser(this, uiText(kIdsChooseDirectory), toQt(current));
  browser.setFileMode(QFileDialog::Directory);
  browser.setOption(QFileDialog::ShowDirsOnly);
  if (runModal(&browser) == QDialog::Accepted && !browser.selectedFiles().isEmpty()) {
    // Stored at once, whatever button closes the dialog.
    const base::string16 chosen = fromQt(browser.selectedFiles().first());
    if (pictures) settings.setPicturesFolder(chosen);
    else settings.setMoviesFolder(chosen);
  }
  fillFolder(box, pictures ? settings.picturesFolder() : settings.moviesFolder());
}

QWidget* SettingsDialog::makeAudio() {
  auto* page = new QWidget;
  auto* layout = new QVBoxLayout(page);
  auto fill = [page, layout](uint32_t caption, const std::vector<base::string16>& devices, bool listed,
                             const base::string16& stored) {
    layout->addWidget(new QLabel(uiText(caption), page));
    auto* box = new QComboBox(page);
    // Unlisted: the stored choice alone, unchangeable, rather than a list
    // that offers only the system default.
    const DeviceChoice choice = chooseDevice(listed || stored.empty() ? devices : std::vector<base::string16>{stored},
                                             stored, loadString(kIdsSystemDefault));
    for (const base::string16& entry : choice.entries) box->addItem(toQt(entry));
    if (choice.multipleMatches) LOG(INFO) << "Multiple match in input device list";
    box->setCurrentIndex(static_cast<int>(choice.selected));
    box->setEnabled(listed);
    layout->addWidget(box);
    return box;
  };
  const std::vector<base::string16> speakers = CWaveHost::outputDevices(&speakersListed_);
  const std::vector<base::string16> microphones = CWaveHost::inputDevices(&microphonesListed_);
  if (!speakersListed_ || !microphonesListed_) {
    soundServerNote_ = wrapped(uiText(kIdsNoSoundServer), page);
    layout->addWidget(soundServerNote_);
    layout->addSpacing(8);
  }
  speakers_ = fill(kIdsSpeakers, speakers, speakersListed_, CWaveHost::outputDeviceName());
  layout->addSpacing(8);
  microphone_ = fill(kIdsMicrophone, microphones, microphonesListed_, CWaveHost::inputDeviceName());
  layout->addStretch(1);
  return page;
}

QWidget* SettingsDialog::makeCamera() {
  const CSettings& settings = CSettings::Instance();
  auto* page = new QWidget;
  auto* form = new QFormLayout(page);
  cameraSize_ = new QComboBox(page);
  cameraSize_->setEditable(true);
  cameraSize_->addItems({QStringLiteral("640x480"), QStringLiteral("1280x720"), QStringLiteral("1920x1080")});
  cameraSize_->setCurrentText(toQt(settings.cameraSize()));
  form->addRow(uiText(kIdsCameraSize), cameraSize_);
  cameraOutputs_ = new QComboBox(page);
  for (const char* outputs : {"both", "pipewire", "v4l2", "off"}) cameraOutputs_->addItem(QString::fromLatin1(outputs));
  cameraOutputs_->setCurrentText(toQt(settings.linuxCamera()));
  form->addRow(uiText(kIdsCameraOutputs), cameraOutputs_);
  auto* note = wrapped(uiText(kIdsNextStart), page);
  note->setForegroundRole(QPalette::PlaceholderText);
  form->addRow(note);
  return page;
}

bool SettingsDialog::closeWith(bool ok) {
  storeSettingsBoxes(atLogin_->isChecked(), notifications_->isChecked(), mirror_->isChecked());
  // The desktop starts programs at login from its autostart folder.
  const std::string program = QCoreApplication::applicationFilePath().toStdString();
  if (!shell::writeAutostartEntry(atLogin_->isChecked(), base::wideToUtf8(kInstanceName),
                                  base::wideToUtf8(kProductName), program))
    LOG(WARNING) << "The start at login could not be changed";
  if (!ok) return true;
  uint32_t port = 0;
  if (!parsePortField(fromQt(port_->text()), &port)) {
    pages_->setCurrentIndex(kNetwork);
    showMessageBox(this, loadString(kIdsBadPort), kMbOk | kMbIconError);
    port_->setFocus();
    return false;
  }
  state_->port = port;
  // The sound devices the bridge uses while no phone is there; the last
  // entry ("System default device") is stored as no name.
  auto chosen = [](QComboBox* box) {
    return deviceNameToStore(box->currentIndex(), box->count(), fromQt(box->currentText()));
  };
  // A list the sound system could not give says nothing about the choice.
  if (microphonesListed_) CWaveHost::setInputDeviceName(chosen(microphone_));
  if (speakersListed_) CWaveHost::setOutputDeviceName(chosen(speakers_));
  if (frame_) frame_->applyAudioDevices();
  CSettings& settings = CSettings::Instance();
  settings.setCameraSize(fromQt(cameraSize_->currentText().trimmed()));
  settings.setLinuxCamera(fromQt(cameraOutputs_->currentText()));
  return true;
}

void SettingsDialog::done(int result) {
  if (closing_) return;
  closing_ = true;
  const bool close = closeWith(result == QDialog::Accepted);
  closing_ = false;
  if (close) QDialog::done(result);
}

// --- About -------------------------------------------------------------------

AboutDialog::AboutDialog(CMainFrame* frame, QWidget* parent) : QDialog(parent) {
  setWindowTitle(uiText(50005));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(28, 24, 28, 20);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(productIcon().pixmap(64, 64));
  head->addWidget(icon, 0, Qt::AlignTop);
  auto* texts = new QVBoxLayout;
  auto* product = new QLabel(toQt(kProductName), this);
  QFont big = product->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  product->setFont(big);
  texts->addWidget(product);
  auto* version = new QLabel(versionText(), this);
  version->setObjectName(QStringLiteral("version"));
  texts->addWidget(version);
  texts->addWidget(new QLabel(uiText(kIdsRights), this));
  texts->addSpacing(10);
  texts->addWidget(link(uiText(kIdsCheckForUpdates), [frame] {
    if (frame) frame->checkForUpdatesNow();
  }, this));
  texts->addWidget(new QLabel(lastCheckText(CSettings::Instance().lastUpdateCheckTime()), this));
  head->addLayout(texts, 1);
  layout->addLayout(head);
  layout->addSpacing(10);
  auto* buttons = new QHBoxLayout;
  auto* help = new QPushButton(QIcon::fromTheme(QStringLiteral("help-browser")), uiText(kIdsHelpButton), this);
  connect(help, &QPushButton::clicked, this, [] { openHelp(); });
  auto* support = new QPushButton(uiText(kIdsSupport), this);
  connect(support, &QPushButton::clicked, this, [frame] {
    if (frame) frame->openSupport();
  });
  auto* ok = new QPushButton(uiText(kIdsOk), this);
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  buttons->addWidget(help);
  buttons->addWidget(support);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  layout->addLayout(buttons);
}

QString AboutDialog::versionText() {
  return QStringLiteral("v%1.%2.%3").arg(kVersionMajor).arg(kVersionMinor).arg(kVersionPatch);
}

QString AboutDialog::lastCheckText(uint64_t fileTime) {
  QString when = uiText(kIdsNever);
  const uint64_t seconds = fileTime / kFileTimeUnitsPerSecond;
  if (seconds > kSecondsFrom1601To1970) {
    const QDateTime time = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(seconds - kSecondsFrom1601To1970));
    when = time.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
  }
  return toQt(withArgument(loadString(kIdsLastCheck), fromQt(when)));
}

// --- the first-run tip -------------------------------------------------------

FirstRunTip::FirstRunTip(std::function<void(bool)> closed, QWidget* parent)
    : QDialog(parent), closed_(std::move(closed)) {
  setWindowTitle(QStringLiteral("Welcome"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(productIcon().pixmap(48, 48));
  head->addWidget(icon, 0, Qt::AlignTop);
  head->addWidget(wrapped(uiText(kIdsTip), this), 1);
  layout->addLayout(head);
  layout->addWidget(link(uiText(kIdsOnlineHelp), openHelp, this));
  dontShow_ = new QCheckBox(uiText(kIdsDontAskAgain), this);
  layout->addWidget(dontShow_);
  auto* buttons = new QDialogButtonBox(this);
  auto* ok = buttons->addButton(uiText(kIdsOk), QDialogButtonBox::AcceptRole);
  ok->setDefault(true);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  layout->addWidget(buttons);
  setMinimumWidth(440);
}

void FirstRunTip::done(int result) {
  if (!told_ && closed_) closed_(!dontShow_->isChecked());
  told_ = true;
  QDialog::done(result);
}

// --- the question before quitting --------------------------------------------

QuitQuestion::QuitQuestion(const base::string16& question, QWidget* parent) : QDialog(parent) {
  setWindowTitle(toQt(kProductName));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(24, 20, 24, 16);
  auto* head = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(40, 40));
  head->addWidget(icon, 0, Qt::AlignTop);
  head->addWidget(wrapped(toQt(question), this), 1);
  layout->addLayout(head);
  dontAsk_ = new QCheckBox(uiText(kIdsDontAskAgain), this);
  layout->addWidget(dontAsk_);
  auto* buttons = new QDialogButtonBox(this);
  auto* yes = buttons->addButton(uiText(kIdsYes), QDialogButtonBox::YesRole);
  auto* no = buttons->addButton(uiText(kIdsNo), QDialogButtonBox::NoRole);
  no->setDefault(true);
  connect(yes, &QPushButton::clicked, this, &QDialog::accept);
  connect(no, &QPushButton::clicked, this, &QDialog::reject);
  layout->addWidget(buttons);
  setMinimumWidth(420);
}

bool QuitQuestion::dontAskAgain() const { return dontAsk_->isChecked(); }
