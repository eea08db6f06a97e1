#include "app/form2.h"

#include "app/design.h"
#include "app/edge_anchors.h"

#include <QPlainTextEdit>

namespace borvantel::app {

Form2::Form2(QWidget* parent) : QDialog(parent) {
  setObjectName("Form2");
  setWindowTitle("Form2");
  setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
  setFont(designFont());
  const Twips twips(this);
  resize(twips.toPixels(10725), twips.toPixels(6840));

  Text1 = new QPlainTextEdit(this);
  Text1->setObjectName("Text1");
  Text1->setGeometry(twips.toPixels(120, 120, 10575, 6615));
  Text1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Text1->setAccessibleName(QString::fromUtf8("Treść pliku"));

  anchors_ = new EdgeAnchors(this);  // records the design layout
}

void Form2::setText(const QString& text) {
  // Qt keeps line ends as "\n"; the lines themselves hold no CR or LF.
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  Text1->setPlainText(lines);
}

}  // namespace borvantel::app
