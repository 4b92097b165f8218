// The dialogs of the desktop window, in the desktop's own look: the
// "New device" prompt (modeless, in front), the access list, the settings
// with their pages, About, the first-run tip and the question before
// quitting with its "Don't show this again" box. Their texts come from the
// resource library; what they change goes to the settings or back to the
// controller, as the Windows dialogs do.
//
// Thread: the user-interface thread.
#ifndef WEBCAMWIN_QT_DIALOGS_QT_H_
#define WEBCAMWIN_QT_DIALOGS_QT_H_

#include <QDialog>

#include <functional>
#include <vector>

#include "WebcamWin/controller/main_frame.h"
#include "base/string_util.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QTabWidget;
class QTreeWidget;
struct SettingsDialogState;

// Shows `dialog` modally while the program's loop (and with it the phone's
// connection) runs on; returns its result. Ends early, rejected, when the
// loop is asked to quit (the program is closing).
int runModal(QDialog* dialog);
// A message box captioned with the product name (kMbOk or kMbYesNo with an
// icon); the button pressed as kIdOk, kIdYes or kIdNo.
int showMessageBox(QWidget* parent, const base::string16& text, uint32_t type);

class AuthorizationPrompt : public QDialog {
 public:
  // `answered` gets the button pressed (closing the window denies).
  AuthorizationPrompt(const base::string16& name, const base::string16& uid,
                      std::function<void(CMainFrame::AuthAnswer)> answered);
  // Raises the prompt in front of everything.
  void present();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  std::function<void(CMainFrame::AuthAnswer)> answered_;
};

class AccessListDialog : public QDialog {
 public:
  explicit AccessListDialog(QWidget* parent);
  // The rows as shown (tests): name, unique id, status.
  QTreeWidget* list() const { return list_; }
  // Asks, then removes every selected entry. Nothing without a selection.
  void deleteSelected();

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void fill();
  QTreeWidget* list_;
};

class SettingsDialog : public QDialog {
 public:
  enum Page { kGeneral, kNetwork, kFolders, kAudio, kCamera };
  SettingsDialog(SettingsDialogState* state, CMainFrame* frame, QWidget* parent);

  QTabWidget* pages() const { return pages_; }
  QLineEdit* portField() const { return port_; }
  QCheckBox* notificationsBox() const { return notifications_; }
  QCheckBox* startAtLoginBox() const { return atLogin_; }
  QComboBox* speakersBox() const { return speakers_; }
  QComboBox* microphoneBox() const { return microphone_; }
  // The line saying that no sound server answers (null while one does).
  QLabel* soundServerNote() const { return soundServerNote_; }
  // OK: false (and the dialog stays) when the port is refused.
  bool closeWith(bool ok);

  void done(int result) override;

 private:
  QWidget* makeGeneral();
  QWidget* makeNetwork();
  QWidget* makeFolders();
  QWidget* makeAudio();
  QWidget* makeCamera();
  void fillFolder(QComboBox* box, const base::string16& folder);
  void chooseFolder(QComboBox* box, bool pictures);

  SettingsDialogState* state_;
  CMainFrame* frame_;
  QTabWidget* pages_;
  QCheckBox* atLogin_ = nullptr;
  QCheckBox* notifications_ = nullptr;
  QCheckBox* mirror_ = nullptr;
  QLineEdit* port_ = nullptr;
  QComboBox* pictures_ = nullptr;
  QComboBox* videos_ = nullptr;
  QComboBox* speakers_ = nullptr;
  QComboBox* microphone_ = nullptr;
  // False when the sound system could not list that kind of device: the
  // stored choice is then shown and kept as it is.
  bool speakersListed_ = true;
  bool microphonesListed_ = true;
  QLabel* soundServerNote_ = nullptr;
  QComboBox* cameraSize_ = nullptr;
  QComboBox* cameraOutputs_ = nullptr;
  bool closing_ = false;
};

class AboutDialog : public QDialog {
 public:
  AboutDialog(CMainFrame* frame, QWidget* parent);
  // "v%d.%d.%d" of the program's version.
  static QString versionText();
  // The "Last check: %s" line for a Windows file time (0: never).
  static QString lastCheckText(uint64_t fileTime);
};

class FirstRunTip : public QDialog {
 public:
  // `closed` learns whether to show the tip again, however it was closed.
  FirstRunTip(std::function<void(bool showAgain)> closed, QWidget* parent);
  void done(int result) override;
  QCheckBox* dontShowBox() const { return dontShow_; }

 private:
  std::function<void(bool)> closed_;
  QCheckBox* dontShow_;
  bool told_ = false;
};

class QuitQuestion : public QDialog {
 public:
  QuitQuestion(const base::string16& question, QWidget* parent);
  bool dontAskAgain() const;
  QCheckBox* dontAskBox() const { return dontAsk_; }

 private:
  QCheckBox* dontAsk_;
};

#endif  // WEBCAMWIN_QT_DIALOGS_QT_H_
