// A style plugin that drives the real window program as a user would:
// `borvantel -style borvantel-driver` (with this plugin's directory on
// QT_PLUGIN_PATH) presses Start, previews the first waiting file, assigns
// every waiting file, saves, converts and closes the window, answering every
// message box. It writes what it did and saw to the file named by
// BORVANTEL_DRIVER_REPORT, one line each, so that a test can check a shipped
// program without any test code inside it. The window is drawn in the style
// the program would otherwise get (the native one where its plugin is there).
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QStyleFactory>
#include <QStylePlugin>
#include <QTimer>

namespace {

class Driver : public QObject {
 public:
  explicit Driver(const QString& style) : report_(qEnvironmentVariable("BORVANTEL_DRIVER_REPORT")) {
    report_.open(QIODevice::WriteOnly | QIODevice::Truncate);
    write("style", {style});
    // The buttons of a question, as Qt would name them (Polish once the
    // program has loaded Qt's translation).
    QTimer::singleShot(0, this, [this] {
      write("buttons", {QCoreApplication::translate("QPlatformTheme", "&Yes"),
                        QCoreApplication::translate("QPlatformTheme", "&No")});
    });
    // Two timers: a timer does not fire again while its own slot runs, and a
    // step's click may run a modal window's event loop inside that slot.
    modal_.setInterval(10);
    connect(&modal_, &QTimer::timeout, this, &Driver::answerModal);
    modal_.start();
    steps_.setInterval(10);
    connect(&steps_, &QTimer::timeout, this, &Driver::tick);
    steps_.start();
  }

 private:
  enum class Step { Open, Start, Preview, Assign, Save, Convert, Close, Done };

  void write(const char* what, const QStringList& fields) {
    report_.write(QByteArray(what) + ' ' + fields.join('\t').toUtf8() + '\n');
    report_.flush();
  }
  template <typename T = QWidget>
  T* control(const char* name) const {
    return form_ ? form_->findChild<T*>(QString::fromLatin1(name)) : nullptr;
  }
  QStringList items(const char* list) const {
    QStringList out;
    const QAbstractItemModel* model = control<QListView>(list)->model();
    for (int row = 0; row < model->rowCount(); ++row) out << model->index(row, 0).data().toString();
    return out;
  }
  void select(const char* list, int row) {
    QListView* view = control<QListView>(list);
    view->selectionModel()->setCurrentIndex(view->model()->index(row, 0), QItemSelectionModel::ClearAndSelect);
  }
  // A button pressed as a click would: only when it is there for the user.
  void press(const char* name) {
    auto* button = control<QAbstractButton>(name);
    write("press", {QString::fromLatin1(name), button->isEnabled() && button->isVisible() ? "on" : "off"});
    if (button->isEnabled() && button->isVisible()) button->click();
  }

  // Modal windows (a message, the preview) run their own event loop inside
  // a click; they are answered here, whatever step is under way.
  void answerModal() {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      write("message", {box->windowTitle(), box->text()});
      if (QAbstractButton* yes = box->button(QMessageBox::Yes)) {
        yes->click();
      } else {
        box->accept();
      }
      return;
    }
    if (modal && modal->objectName() == "Form2") {
      const QString text = modal->findChild<QPlainTextEdit*>("Text1")->toPlainText();
      write("preview", {modal->windowTitle(), text.section('\n', 0, 0).remove('\r'), QString::number(text.count('\n') + 1)});
      QMetaObject::invokeMethod(modal, "reject");
    }
  }

  void tick() {
    if (QApplication::activeModalWidget()) return;
    step_ = next();
    if (step_ == Step::Done) steps_.stop();
  }

  Step next() {
    switch (step_) {
      case Step::Open:
        for (QWidget* top : QApplication::topLevelWidgets()) {
          if (top->objectName() == "Form1" && top->isVisible()) form_ = top;
        }
        return form_ ? Step::Start : Step::Open;
      case Step::Start:
        press("Command1");
        write("waiting", items("List1"));
        return items("List1").isEmpty() ? Step::Save : Step::Preview;
      case Step::Preview: {
        select("List1", 0);
        QWidget* viewport = control<QListView>("List1")->viewport();
        const QPointF at(viewport->width() / 2.0, 5);
        QMouseEvent click(QEvent::MouseButtonDblClick, at, viewport->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(viewport, &click);
        return Step::Assign;
      }
      case Step::Assign: {
        // Each waiting file gets the category at its turn in the list, cycling.
        const QStringList categories = items("List2");
        const QString file = items("List1").value(0);
        const QString category = categories.value(assigned_++ % std::max<qsizetype>(categories.size(), 1));
        select("List2", static_cast<int>(categories.indexOf(category)));
        write("assign", {file, category, control<QLabel>("Label5")->text()});
        press("Command2");
        return items("List1").isEmpty() ? Step::Save : Step::Assign;
      }
      case Step::Save:
        press("Command6");
        return Step::Convert;
      case Step::Convert:
        press("Command5");
        for (const char* name : {"Command1", "Command2", "Command4", "Command5", "Command6"}) {
          write("state", {QString::fromLatin1(name), control(name)->isEnabled() ? "on" : "off"});
        }
        return Step::Close;
      case Step::Close:
        write("closing", {});
        form_->close();
        return Step::Done;
      case Step::Done:
        break;
    }
    return Step::Done;
  }

  QFile report_;
  QTimer modal_;
  QTimer steps_;
  QWidget* form_ = nullptr;
  Step step_ = Step::Open;
  int assigned_ = 0;
};

class DriverStyle : public QStylePlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "driver.json")

 public:
  QStyle* create(const QString&) override {
    QStyle* style = nullptr;
    for (const char* name : {"windowsvista", "Fusion"}) {
      if ((style = QStyleFactory::create(QString::fromLatin1(name)))) break;
    }
    // One driver, however often the style is asked for; it lives as long as
    // the program.
    static const Driver* const driver = new Driver(style ? style->name() : QString());
    (void)driver;
    return style;
  }
};

}  // namespace

#include "driver_style.moc"
