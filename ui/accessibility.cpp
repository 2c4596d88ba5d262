// SPDX-License-Identifier: MIT
#include "ui/accessibility.h"

#include "ui/shape.h"
#include "ui/sstab.h"

#include <QAccessibleWidget>
#include <QLabel>
#include <QPointer>
#include <QVariant>
#include <QWindow>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The dynamic property that holds a value label's caption.
constexpr char ValueCaption[] = "tarvikValueCaption";

// A caption as read: "&&" is an '&', another '&' marks the next character
// as the shortcut and is not read.
QString withoutMnemonic(const QString& caption)
{
    QString plain;
    plain.reserve(caption.size());
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption[i] == u'&' && i + 1 < caption.size())
            ++i;
        plain += caption[i];
    }
    return plain;
}

// An input lamp: a check box that cannot be changed, checked while the input
// is on, named by the caption label whose buddy it is.
class LampAccessible : public QAccessibleWidget
{
public:
    explicit LampAccessible(Shape* lamp)
        : QAccessibleWidget(lamp, QAccessible::CheckBox)
    { }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = static_cast<const Shape*>(widget())->isOn();
        s.readOnly = true;
        return s;
    }
};

// A value shown by a label, read with its caption.
class ValueLabelAccessible : public QAccessibleWidget
{
public:
    explicit ValueLabelAccessible(QLabel* label)
        : QAccessibleWidget(label, QAccessible::StaticText)
    { }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name)
            return QAccessibleWidget::text(t);
        const auto* label = static_cast<const QLabel*>(widget());
        return label->property(ValueCaption).toString() + u' ' + label->text();
    }
};

// One tab of the setup window's tab row.
class TabAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    TabAccessible(QTabBar* bar, int index)
        : m_bar(bar)
        , m_index(index)
    { }

    bool isValid() const override { return m_bar && m_index < m_bar->count(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_bar ? m_bar->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override
    {
        return QAccessible::queryAccessibleInterface(m_bar.data());
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessible::Role role() const override { return QAccessible::PageTab; }

    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || !isValid())
            return {};
        return withoutMnemonic(m_bar->tabText(m_index));
    }
    void setText(QAccessible::Text, const QString&) override { }

    QRect rect() const override
    {
        if (!isValid() || !m_bar->isVisible())
            return {};
        const QRect tab = m_bar->tabRect(m_index);
        return { m_bar->mapToGlobal(tab.topLeft()), tab.size() };
    }

    QAccessible::State state() const override
    {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        s.selectable = true;
        s.selected = m_index == m_bar->currentIndex();
        s.focusable = m_bar->focusPolicy() != Qt::NoFocus;
        s.focused = s.selected && m_bar->hasFocus();
        s.disabled = !m_bar->isTabEnabled(m_index);
        s.invisible = !m_bar->isVisible();
        return s;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override { return { pressAction() }; }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid())
            m_bar->setCurrentIndex(m_index);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<QTabBar> m_bar;
    int m_index;
};

// The tab row: a page tab list whose tabs say which one is showing. Qt's
// own tab row marks none of them selected.
class TabBarAccessible : public QAccessibleWidget
{
public:
    explicit TabBarAccessible(QTabBar* bar)
        : QAccessibleWidget(bar, QAccessible::PageTabList)
    { }

    ~TabBarAccessible() override
    {
        for (const QAccessible::Id id : m_tabs) {
            if (id != 0)
                QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return bar()->count(); }

    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= bar()->count())
            return nullptr;
        if (size_t(index) >= m_tabs.size())
            m_tabs.resize(size_t(index) + 1, 0);
        QAccessible::Id& id = m_tabs[size_t(index)];
        if (id == 0)
            id = QAccessible::registerAccessibleInterface(new TabAccessible(bar(), index));
        return QAccessible::accessibleInterface(id);
    }

    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (size_t i = 0; i < m_tabs.size() && int(i) < bar()->count(); ++i) {
            if (m_tabs[i] != 0 && QAccessible::accessibleInterface(m_tabs[i]) == child)
                return int(i);
        }
        return -1;
    }

    QAccessibleInterface* childAt(int x, int y) const override
    {
        const int index = bar()->tabAt(bar()->mapFromGlobal(QPoint(x, y)));
        return index >= 0 ? child(index) : nullptr;
    }

    QAccessibleInterface* focusChild() const override
    {
        return bar()->hasFocus() ? child(bar()->currentIndex()) : nullptr;
    }

private:
    QTabBar* bar() const { return static_cast<QTabBar*>(widget()); }

    mutable std::vector<QAccessible::Id> m_tabs;
};

QAccessibleInterface* accessibleFor(const QString& className, QObject* object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    auto* widget = static_cast<QWidget*>(object);
    // The windows are plain widgets, which Qt presents as unnamed panes
    // ("filler"); a screen reader announces a frame or a dialog by its title.
    if (className == u"frmMain"_s)
        return new QAccessibleWidget(widget, QAccessible::Window);
    if (className == u"frmPicOptions"_s)
        return new QAccessibleWidget(widget, QAccessible::Dialog);
    if (className == u"Shape"_s)
        return new LampAccessible(static_cast<Shape*>(widget));
    if (className == u"SSTabBar"_s)
        return new TabBarAccessible(static_cast<QTabBar*>(widget));
    if (className == u"QLabel"_s && object->property(ValueCaption).isValid())
        return new ValueLabelAccessible(static_cast<QLabel*>(widget));
    return nullptr;
}

} // namespace

void installAccessibleInterfaces()
{
    static const bool installed = (QAccessible::installFactory(&accessibleFor), true);
    Q_UNUSED(installed);
}

void setValueCaption(QLabel* value, const QString& caption)
{
    installAccessibleInterfaces();
    value->setProperty(ValueCaption, caption);
    // Qt made the label's interface when the label got its first text; the
    // next one asked for is made by the factory above.
    if (QAccessibleInterface* made = QAccessible::queryAccessibleInterface(value))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(made));
}
