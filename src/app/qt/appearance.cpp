#include "appearance.hpp"

#include <QApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLinearGradient>
#include <QLocale>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleOption>
#include <QTranslator>

namespace {

const QColor deep_blue(0x15, 0x3e, 0x75);
const QColor light_blue(0x4f, 0x8f, 0xd0);
const QColor leaf_green(0x3c, 0xa5, 0x5c);

// A rounded shield with a cross in its upper half: the mark of the program.
void paint_mark(QPainter& painter, const QRectF& area) {
  const qreal w = area.width();
  const qreal h = area.height();
  QPainterPath shield;
  shield.moveTo(area.left() + w * 0.5, area.top());
  shield.lineTo(area.right(), area.top() + h * 0.12);
  shield.cubicTo(area.right(), area.top() + h * 0.62, area.left() + w * 0.78, area.top() + h * 0.86,
                 area.left() + w * 0.5, area.bottom());
  shield.cubicTo(area.left() + w * 0.22, area.top() + h * 0.86, area.left(), area.top() + h * 0.62, area.left(),
                 area.top() + h * 0.12);
  shield.closeSubpath();
  QLinearGradient fill(area.topLeft(), area.bottomRight());
  fill.setColorAt(0, light_blue);
  fill.setColorAt(1, deep_blue);
  painter.setPen(QPen(Qt::white, qMax<qreal>(1.0, w / 30)));
  painter.setBrush(fill);
  painter.drawPath(shield);

  const qreal arm = w * 0.16;
  const QPointF centre(area.left() + w * 0.5, area.top() + h * 0.42);
  painter.setPen(Qt::NoPen);
  painter.setBrush(Qt::white);
  painter.drawRoundedRect(QRectF(centre.x() - arm / 2, centre.y() - arm * 1.6, arm, arm * 3.2), arm / 4, arm / 4);
  painter.drawRoundedRect(QRectF(centre.x() - arm * 1.6, centre.y() - arm / 2, arm * 3.2, arm), arm / 4, arm / 4);
  painter.setBrush(leaf_green);
  painter.drawEllipse(centre, arm * 0.36, arm * 0.36);
}

// One line of bold text centred in area.
void paint_caption(QPainter& painter, const QString& text, int pixel_size, const QColor& colour, const QRectF& area) {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(pixel_size);
  font.setBold(true);
  painter.setFont(font);
  painter.setPen(colour);
  painter.drawText(area, Qt::AlignCenter, text);
}

// Most styles draw the focus mark only after the focus moved by keyboard; a doctor who
// clicks and then types must still see where Enter and Space go. The style draws every
// focused control as if the focus had come from the keyboard.
class FocusMarkStyle : public QProxyStyle {
 public:
  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    marked(option, [&] { QProxyStyle::drawPrimitive(element, option, painter, widget); });
  }
  void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const override {
    marked(option, [&] { QProxyStyle::drawControl(element, option, painter, widget); });
  }
  void drawComplexControl(ComplexControl control, const QStyleOptionComplex* option, QPainter* painter,
                          const QWidget* widget) const override {
    marked(option, [&] { QProxyStyle::drawComplexControl(control, option, painter, widget); });
  }

 private:
  // The option belongs to the caller, who built it for this one drawing; the flag is
  // added for the drawing and taken away after it.
  template <typename Draw>
  static void marked(const QStyleOption* option, Draw draw) {
    if (!option || !(option->state & State_HasFocus) || (option->state & State_KeyboardFocusChange)) {
      draw();
      return;
    }
    auto* changed = const_cast<QStyleOption*>(option);
    changed->state |= State_KeyboardFocusChange;
    draw();
    changed->state &= ~State_KeyboardFocusChange;
  }
};

}  // namespace

bool install_italian() {
  QLocale::setDefault(QLocale(QLocale::Italian, QLocale::Italy));
  // "qt" gathers the catalogues of Qt's modules (qtbase and the others installed).
  auto* translator = new QTranslator(QCoreApplication::instance());
  const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
  if (!translator->load(QLocale(QLocale::Italian), QStringLiteral("qt"), QStringLiteral("_"), folder)) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  // The program's own catalogue, installed last so that it is asked first: the texts of
  // Qt's dialogs that Qt's catalogue leaves in English.
  auto* own = new QTranslator(QCoreApplication::instance());
  if (own->load(QStringLiteral(":/i18n/pivzona12_it.qm")))
    QCoreApplication::installTranslator(own);
  else
    delete own;
  return true;
}

void install_window_style() { QApplication::setStyle(new FocusMarkStyle); }

void prepare_application() {
  install_font_substitutes();
  install_window_style();
  install_italian();
}

void install_font_substitutes() {
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                             {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
                              QStringLiteral("Arial"), QStringLiteral("DejaVu Sans")});
}

QFont window_font(bool bold) {
  QFont font(QStringLiteral("MS Sans Serif"));
  font.setPointSize(8);
  font.setBold(bold);
  return font;
}

QPixmap praxi_logo() {
  QPixmap logo(106, 142);
  logo.fill(Qt::white);
  QPainter painter(&logo);
  painter.setRenderHint(QPainter::Antialiasing);

  QLinearGradient band(0, 0, 0, 142);
  band.setColorAt(0, QColor(0xee, 0xf4, 0xfb));
  band.setColorAt(1, QColor(0xd6, 0xe4, 0xf3));
  painter.fillRect(logo.rect(), band);
  painter.setPen(QPen(deep_blue, 1));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRectF(0.5, 0.5, 105, 141));

  paint_mark(painter, QRectF(23, 10, 60, 72));

  paint_caption(painter, QStringLiteral("PIV"), 19, deep_blue, QRectF(0, 86, 106, 24));
  paint_caption(painter, QStringLiteral("ZONA 12"), 13, leaf_green, QRectF(0, 110, 106, 22));
  return logo;
}

QIcon application_icon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 64, 128}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal margin = size / 16.0;
    paint_mark(painter, QRectF(margin * 2, margin, size - margin * 4, size - margin * 2));
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

QLabel* place_label(QWidget* parent, const char* name, const QString& text, int left, int top, bool bold) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  if (bold) label->setFont(window_font(true));
  label->move(left, top);
  label->adjustSize();
  return label;
}
