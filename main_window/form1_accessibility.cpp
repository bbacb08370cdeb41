#include "form1_accessibility.h"

#include "form1.h"
#include "met.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QLineEdit>

namespace {

QString beatOfBar(int beat)
{
    return QStringLiteral("beat %1 of %2").arg(beat).arg(Met::Session.BeatsPerBar);
}

// The beat number: its digits read as the beat of the bar.
class BeatNumberAccessible : public QAccessibleWidget
{
public:
    explicit BeatNumberAccessible(Label *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text kind) const override
    {
        const QString digits = static_cast<Label *>(widget())->text();
        if (kind == QAccessible::Name)
            return digits.isEmpty() ? QString() : beatOfBar(digits.toInt());
        return QAccessibleWidget::text(kind);
    }
};

// One beat circle, as a read-only check box: which beat it stands for,
// checked while lit. A hidden circle (a beat past the bar, or no session)
// has no name: it stands for no beat.
class BeatCircleAccessible : public QAccessibleWidget
{
public:
    BeatCircleAccessible(Shape *circle, int beat)
        : QAccessibleWidget(circle, QAccessible::CheckBox), m_beat(beat)
    {
    }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return widget()->isVisible() ? beatOfBar(m_beat) : QString();
        return QAccessibleWidget::text(kind);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.readOnly = true;
        state.checked = static_cast<Shape *>(widget())->fillStyle() == FillStyle::Solid;
        return state;
    }

private:
    int m_beat;
};

// Qt asks this for every object it makes an interface for; only the window
// and the beat display's controls, known by their design names, get ours.
QAccessibleInterface *beatDisplayAccessible(const QString &, QObject *object)
{
    // The main window is a window to a screen reader, named by its caption,
    // not a plain pane.
    if (auto *form = qobject_cast<Form1 *>(object))
        return new QAccessibleWidget(form, QAccessible::Window);
    if (auto *label = qobject_cast<Label *>(object); label && label->objectName() == u"lblBeat")
        return new BeatNumberAccessible(label);
    if (auto *circle = qobject_cast<Shape *>(object)) {
        const QString name = circle->objectName(); // shpBeat(<index>)
        if (name.startsWith(u"shpBeat("))
            return new BeatCircleAccessible(circle, name.mid(8).chopped(1).toInt());
    }
    return nullptr;
}

} // namespace

void describeForAccessibility(Form1 &form)
{
    static const bool installed = [] {
        QAccessible::installFactory(beatDisplayAccessible);
        return true;
    }();
    Q_UNUSED(installed);

    form.Frame2->setAccessibleDescription(QStringLiteral("The tempo"));
    form.Text1->setAccessibleName(QStringLiteral("Beats Per Minute"));
    form.Text1->setAccessibleDescription(QStringLiteral("Type the tempo, then press Start Ticking"));
    form.Frame3->setAccessibleDescription(QStringLiteral("How many beats make a bar"));
    for (OptionButton *option : {form.Option1, form.Option2, form.Option3, form.Option4, form.Option5})
        option->setAccessibleDescription(QStringLiteral("beats per bar"));
    form.Frame4->setAccessibleDescription(QStringLiteral("The beat being played while ticking"));
    form.PushButton6->setAccessibleDescription(QStringLiteral("Starts or stops the clicks"));

    // A screen reader reads a window's children in the order they were made,
    // which follows the design: the frames bottom up, the options 6 down to
    // 2. Raising each in turn puts them in the order they are seen, top to
    // bottom and left to right, as Tab and the arrow keys go through them;
    // nothing overlaps, so nothing looks different.
    for (QWidget *control : {static_cast<QWidget *>(form.Frame2), static_cast<QWidget *>(form.Frame3),
                             static_cast<QWidget *>(form.Frame4), static_cast<QWidget *>(form.PushButton6)})
        control->raise();
    for (OptionButton *option : {form.Option1, form.Option2, form.Option3, form.Option4, form.Option5})
        option->raise();
}
