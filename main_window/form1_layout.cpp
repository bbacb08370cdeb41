// Form1's design: every control with its position, size, caption, font,
// colours, first state and tab order. Positions are in twips, as designed,
// converted by twipsRect(); a control's position is relative to its container.
#include "form1.h"

#include "controls/ole_color.h"
#include "controls/twips.h"
#include "form1_accessibility.h"

#include <QLineEdit>

namespace {

const QColor kMarkerOutline(64, 64, 64);
const QColor kMarkerFill(192, 192, 192);
const QColor kBeatNumberText(128, 128, 128);

Frame *frame(const QString &caption, QWidget *parent, QRect geometry)
{
    auto *box = new Frame(caption, parent);
    box->setGeometry(geometry);
    box->setBackColor(kWhiteColor);
    return box;
}

OptionButton *option(const QString &caption, QWidget *parent, QRect geometry)
{
    auto *button = new OptionButton(caption, parent);
    button->setGeometry(geometry);
    button->setBackColor(kWhiteColor);
    return button;
}

} // namespace

void Form1::createControls()
{
    setWindowTitle(QStringLiteral("Brisquet"));
    // Fixed single border with minimize and close boxes, no maximize box.
    // Without the fixed-size dialog hint Windows would draw a sizing border.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(twipsRect(0, 0, 8040, 3510).size());
    setBackColor(kWhiteColor);
    QFont windowFont(QStringLiteral("Arial"), 9, QFont::Bold);
    setFont(windowFont);

    tmrBeat = new PeriodicTimer(this);
    tmrCountDown = new PeriodicTimer(this);

    Frame4 = frame(QStringLiteral("Metronome Visualization"), this, twipsRect(120, 1860, 7800, 960));
    std::vector<Shape *> markers;
    for (int index = 1; index <= 6; ++index) {
        auto *marker = new Shape(Frame4);
        marker->setGeometry(twipsRect(240 + 420 * (index - 1), 360, 360, 360));
        marker->setBorderColor(kMarkerOutline);
        marker->setFillColor(kMarkerFill);
        marker->setFillStyle(FillStyle::Transparent);
        marker->hide();
        markers.push_back(marker);
    }
    shpBeat = ControlArray<Shape>(1, std::move(markers));

    lblBeat = new Label(Frame4);
    lblBeat->setGeometry(twipsRect(3060, 300, 270, 360));
    lblBeat->setFont(QFont(QStringLiteral("MS Sans Serif"), 18, QFont::Normal));
    lblBeat->setAlignment(Qt::AlignRight | Qt::AlignTop);
    QPalette labelPalette = lblBeat->palette();
    labelPalette.setColor(QPalette::WindowText, kBeatNumberText);
    lblBeat->setPalette(labelPalette);
    lblBeat->setBackColor(kWhiteColor); // kept, but the label's background is transparent

    Frame3 = frame(QStringLiteral("Beats Per Bar"), this, twipsRect(120, 1000, 7800, 765));
    Option5 = option(QStringLiteral("6"), Frame3, twipsRect(2640, 300, 495, 285));
    Option4 = option(QStringLiteral("5"), Frame3, twipsRect(2040, 300, 495, 285));
    Option3 = option(QStringLiteral("4"), Frame3, twipsRect(1440, 300, 495, 285));
    Option2 = option(QStringLiteral("3"), Frame3, twipsRect(840, 300, 495, 285));
    Option1 = option(QStringLiteral("2"), Frame3, twipsRect(240, 300, 495, 285));
    Option3->setChecked(true);

    Frame2 = frame(QStringLiteral("Beats Per Minute"), this, twipsRect(120, 120, 7800, 800));
    Text1 = new QLineEdit(Frame2);
    Text1->setGeometry(twipsRect(240, 300, 7335, 345));
    Text1->setMaxLength(std::numeric_limits<int>::max()); // no length limit

    PushButton6 = new PushButton(QStringLiteral("Start Ticking"), this);
    PushButton6->setGeometry(twipsRect(120, 2970, 7800, 405));
    QFont buttonFont(QStringLiteral("Arial"));
    buttonFont.setPointSizeF(11.25);
    buttonFont.setBold(true);
    PushButton6->setFont(buttonFont);
    QPalette buttonPalette = PushButton6->palette();
    buttonPalette.setColor(QPalette::Button, colorFromOle(kWhiteColor));
    PushButton6->setPalette(buttonPalette);

    SkinFramework1 = new SkinFramework(this);

    // Each control answers to its design name (findChild, style sheets, debugging).
    const std::pair<QObject *, const char *> designNames[] = {
        {this, "Form1"}, {tmrBeat, "tmrBeat"}, {tmrCountDown, "tmrCountDown"}, {Frame4, "Frame4"},
        {lblBeat, "lblBeat"}, {Frame3, "Frame3"}, {Option1, "Option1"}, {Option2, "Option2"},
        {Option3, "Option3"}, {Option4, "Option4"}, {Option5, "Option5"}, {Frame2, "Frame2"},
        {Text1, "Text1"}, {PushButton6, "PushButton6"}, {SkinFramework1, "SkinFramework1"}};
    for (const auto &[control, name] : designNames)
        control->setObjectName(QLatin1String(name));
    for (qint16 i = shpBeat.lowerBound(); i <= shpBeat.upperBound(); ++i)
        shpBeat(i).setObjectName(QStringLiteral("shpBeat(%1)").arg(i));

    setDesignTabOrder();
    describeForAccessibility(*this);
    Text1->setFocus();
}

void Form1::setBackColor(quint32 color)
{
    m_backColor = color;
    paintBackColor(*this, color);
}

void Form1::setDesignTabOrder()
{
    QWidget::setTabOrder(Text1, PushButton6);
    QWidget::setTabOrder(PushButton6, Option1);
    QWidget::setTabOrder(Option1, Option2);
    QWidget::setTabOrder(Option2, Option3);
    QWidget::setTabOrder(Option3, Option4);
    QWidget::setTabOrder(Option4, Option5);
}
