// The windows' host on its own: filters, the save dialog's answers, message boxes and
// stale window handles.
#include <set>

#include <QAbstractButton>
#include <QEventLoop>
#include <QPrintDialog>
#include <QPrinter>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include "appearance.hpp"
#include "gui_support.hpp"

using namespace gui_test;

class QtHostTest : public QObject {
  Q_OBJECT

 private slots:
  void nameFilters_data();
  void nameFilters();
  void saveDialogAnswers_data();
  void saveDialogAnswers();
  void messageBoxes_data();
  void messageBoxes();
  void messageBoxShowsItsWholeTitle_data();
  void messageBoxShowsItsWholeTitle();
  void staleForegroundHandleIsIgnored();
  void dialogsOfARunThreadOpenOnTheWindowsThread();
  void qtDialogsLeaveNoTextInEnglish();
};

namespace {

/// Asked first by every translation and answering none: it notes what Qt's dialogs ask
/// to translate, so that each text can be looked up afterwards without it.
class NotingTranslator : public QTranslator {
 public:
  struct Text {
    QByteArray context, source, disambiguation;
    bool operator<(const Text& other) const {
      return std::tie(context, source, disambiguation) < std::tie(other.context, other.source, other.disambiguation);
    }
  };
  mutable std::set<Text> asked;
  QString translate(const char* context, const char* source, const char* disambiguation, int) const override {
    asked.insert({context, source, disambiguation});
    return {};
  }
  bool isEmpty() const override { return false; }
};

}  // namespace

void QtHostTest::nameFilters_data() {
  QTest::addColumn<QString>("filter");
  QTest::addColumn<QStringList>("expected");
  QTest::newRow("one entry") << "File XML|*.xml" << QStringList{"File XML (*.xml)"};
  QTest::newRow("two entries, two patterns")
      << "Report|*.xml;*.XML|Tutti|*.*" << QStringList{"Report (*.xml *.XML)", "Tutti (*.*)"};
  QTest::newRow("description without pattern") << "File XML" << QStringList{};
  QTest::newRow("empty") << "" << QStringList{};
}

void QtHostTest::nameFilters() {
  QFETCH(QString, filter);
  QFETCH(QStringList, expected);
  QCOMPARE(qt_name_filters(filter.toStdString()), expected);
}

void QtHostTest::saveDialogAnswers_data() {
  QTest::addColumn<bool>("confirm");
  QTest::newRow("confirmed") << true;
  QTest::newRow("cancelled") << false;
}

void QtHostTest::saveDialogAnswers() {
  QFETCH(bool, confirm);
  test_support::TempDir dir;
  QtHost host;
  DialogScript dialogs(host);
  const QString chosen = QString::fromStdString(dir.dir() + "scelto");  // no extension is added
  if (confirm) dialogs.save_paths << chosen;
  frontend::FileDialogRequest request;
  request.filter = "File XML|*.xml";
  request.initial_directory = dir.dir();
  request.title = "Report";
  std::string file_name = "File TAO ZONA12.xml";
  QCOMPARE(host.ask_file_name(request, file_name), confirm);
  QCOMPARE(QString::fromStdString(file_name), confirm ? chosen : QStringLiteral("File TAO ZONA12.xml"));
  QCOMPARE(dialogs.file_dialogs.size(), std::size_t(1));
  QCOMPARE(dialogs.file_dialogs[0].offered, QStringLiteral("File TAO ZONA12.xml"));
  // Qt's own texts are Italian whatever the system's locale.
  QVERIFY2(dialogs.file_dialogs[0].buttons.contains(QStringLiteral("Salva")),
           qPrintable(dialogs.file_dialogs[0].buttons.join('|')));
  QVERIFY2(dialogs.file_dialogs[0].buttons.contains(QStringLiteral("Annulla")),
           qPrintable(dialogs.file_dialogs[0].buttons.join('|')));
  QCOMPARE(QDir(dialogs.file_dialogs[0].directory), QDir(QString::fromStdString(dir.dir())));
}

void QtHostTest::messageBoxes_data() {
  QTest::addColumn<unsigned>("flags");
  QTest::addColumn<int>("icon");
  QTest::newRow("plain") << frontend::mb_ok << int(QMessageBox::NoIcon);
  QTest::newRow("system-modal") << (frontend::mb_ok | frontend::mb_systemmodal) << int(QMessageBox::NoIcon);
  QTest::newRow("error") << (frontend::mb_ok | frontend::mb_iconerror) << int(QMessageBox::Critical);
  QTest::newRow("warning") << (frontend::mb_ok | frontend::mb_iconwarning) << int(QMessageBox::Warning);
  QTest::newRow("information, system-modal")
      << (frontend::mb_ok | frontend::mb_iconinformation | frontend::mb_systemmodal) << int(QMessageBox::Information);
}

void QtHostTest::messageBoxes() {
  QFETCH(unsigned, flags);
  QFETCH(int, icon);
  QtHost host;
  DialogScript dialogs(host);
  // Line breaks are CR LF; markup in a text is shown as it is.
  QCOMPARE(host.message_box("Nessun paziente <b>estratto</b>!\r\n\r\nRiga", "Titolo", flags), frontend::id_ok);
  QCOMPARE(dialogs.boxes.size(), std::size_t(1));
  QCOMPARE(dialogs.boxes[0].text, QStringLiteral("Nessun paziente <b>estratto</b>!\n\nRiga"));
  QCOMPARE(dialogs.boxes[0].caption, QStringLiteral("Titolo"));
  QCOMPARE(dialogs.boxes[0].stays_on_top, (flags & frontend::mb_systemmodal) != 0);
  QCOMPARE(int(dialogs.boxes[0].icon), icon);
  QCOMPARE(dialogs.boxes[0].button, QStringLiteral("OK"));
  QCOMPARE(dialogs.boxes[0].plain_text, true);
}

void QtHostTest::messageBoxShowsItsWholeTitle_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("text");
  QTest::newRow("long title, short text")
      << QStringLiteral("Estrazione Vaccinazioni AntiInfluenzali") << QStringLiteral("Nessun paziente estratto!");
  QTest::newRow("short title") << QStringLiteral("PIV ZONA12") << QStringLiteral("Ok.");
}

void QtHostTest::messageBoxShowsItsWholeTitle() {
  QFETCH(QString, caption);
  QFETCH(QString, text);
  QtHost host;
  int width = 0;
  QString shown_caption, shown_text;
  host.set_dialog_hook([&](QDialog& dialog) {
    auto* box = qobject_cast<QMessageBox*>(&dialog);
    QVERIFY(box);
    width = box->width();
    shown_caption = box->windowTitle();
    shown_text = box->text();
    box->accept();
  });
  host.message_box(text.toStdString(), caption.toStdString(), frontend::mb_ok | frontend::mb_iconinformation);
  // The texts stay as they are; the box is as wide as its title in the caption's bold font.
  QCOMPARE(shown_caption, caption);
  QCOMPARE(shown_text, text);
  QFont bold = QApplication::font();
  bold.setBold(true);
  QVERIFY2(width >= QFontMetrics(bold).horizontalAdvance(caption) + 100,
           qPrintable(QStringLiteral("%1 px for the title \"%2\"").arg(width).arg(caption)));
}

void QtHostTest::staleForegroundHandleIsIgnored() {
  QtHost host;
  frontend::WindowHandle handle = 0;
  {
    QWidget window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    handle = host.foreground_window();
    QCOMPARE(handle, reinterpret_cast<frontend::WindowHandle>(&window));
  }
  host.set_foreground_window(handle);  // the window is gone: nothing happens
  host.set_foreground_window(0);
}

void QtHostTest::dialogsOfARunThreadOpenOnTheWindowsThread() {
  QtHost host;
  QThread* box_thread = nullptr;
  int answer = 0;
  bool confirmed = false;
  std::string file_name = "offerto.xml";
  QWidget window;
  window.show();
  QVERIFY(QTest::qWaitForWindowActive(&window));
  frontend::WindowHandle foreground = 0;
  QEventLoop loop;
  QThread* worker = QThread::create([&] {
    foreground = host.foreground_window();
    host.set_foreground_window(foreground);
    answer = host.message_box("Testo", "Titolo", frontend::mb_ok);
    frontend::FileDialogRequest request;
    request.filter = "File XML|*.xml";
    confirmed = host.ask_file_name(request, file_name);
  });
  host.set_dialog_hook([&](QDialog& dialog) {
    box_thread = QThread::currentThread();
    dialog.reject();
  });
  QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
  worker->start();
  loop.exec();
  worker->wait();
  delete worker;
  QCOMPARE(box_thread, QApplication::instance()->thread());
  QCOMPARE(answer, frontend::id_ok);
  QVERIFY(!confirmed);  // rejected by the hook
  QCOMPARE(file_name, std::string("offerto.xml"));
  QCOMPARE(foreground, reinterpret_cast<frontend::WindowHandle>(&window));
}

void QtHostTest::qtDialogsLeaveNoTextInEnglish() {
  NotingTranslator noting;
  QCoreApplication::installTranslator(&noting);
  test_support::TempDir dir;
  QDir(QString::fromStdString(dir.dir())).mkdir(QStringLiteral("cartella"));
  test_support::write_file(dir.dir() + "report.xml", "<a/>");
  {
    // The save dialog, shown long enough for its folder's entries to be listed.
    QtHost host;
    host.set_dialog_hook([](QDialog& dialog) {
      QTest::qWait(500);
      dialog.reject();
    });
    frontend::FileDialogRequest request;
    request.filter = "File XML|*.xml";
    request.initial_directory = dir.dir();
    std::string file_name = "report.xml";
    QVERIFY(!host.ask_file_name(request, file_name));
  }
  {
    // The print dialog and its printer's properties.
    QPrinter printer;
    QPrintDialog dialog(&printer);
    dialog.show();
    for (auto* button : dialog.findChildren<QAbstractButton*>(QStringLiteral("properties"))) {
      QTimer::singleShot(300, button, [] {
        if (QWidget* properties = QApplication::activeModalWidget()) properties->close();
      });
      if (button->isEnabled()) button->click();
    }
    dialog.reject();
  }
  QCoreApplication::removeTranslator(&noting);
  QVERIFY(!noting.asked.empty());
  // Names that Italian uses as they are: paper standards, keys, units, and a few words.
  const QStringList names_as_they_are{QStringLiteral("QPageSize"), QStringLiteral("QShortcut")};
  const QStringList same_in_italian{
      QStringLiteral("OK"),          QStringLiteral("Standard"),   QStringLiteral("Computer"), QStringLiteral("mm"),
      QStringLiteral("Cicero (CC)"), QStringLiteral("Didot (DD)"), QStringLiteral("Pica (P̸)")};
  QStringList english;
  for (const auto& text : noting.asked) {
    if (names_as_they_are.contains(QString::fromUtf8(text.context))) continue;
    const QString source = QString::fromUtf8(text.source);
    const QString shown =
        QCoreApplication::translate(text.context.constData(), text.source.constData(),
                                    text.disambiguation.isEmpty() ? nullptr : text.disambiguation.constData());
    // Texts without letters (numbers, "...") need no translation.
    if (shown == source && !same_in_italian.contains(source) &&
        source.contains(QRegularExpression(QStringLiteral("[A-Za-z]{2}"))))
      english << QString::fromUtf8(text.context) + ": " + source;
  }
  QVERIFY2(english.isEmpty(), qPrintable(english.join('\n')));
}

PZ_GUI_TEST_MAIN(QtHostTest)
#include "qt_host_test.moc"
