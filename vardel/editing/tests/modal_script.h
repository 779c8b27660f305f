#pragma once
// Driving the dialogs of the Add Servers tests: controls by number, clicks,
// and a script that answers modal dialogs as they open.

#include "tests/support/testsupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <deque>
#include <functional>
#include <gtest/gtest.h>
#include <vector>

// Control numbers of the Add Servers dialog and the dialogs it opens.
enum Ctl {
    kOk = 1,
    kCancel = 2,
    kTree = 1012,
    kChosen = 1013,
    kAdd = 1014,
    kRemove = 1015,
    kShowNetwork = 1016,
    kManually = 1017,
    kNetWareManual = 1018,
    kWindowsNt = 1019,
    kServers = 1022,
    kIp = 1024,
    kIpx = 1050,
};

template <typename T> T* ctl(QWidget* root, int id) {
    T* widget = testsupport::control<T>(root, id);
    EXPECT_NE(widget, nullptr) << "control " << id;
    return widget;
}

inline void click(QWidget* root, int id) {
    QAbstractButton* button = ctl<QAbstractButton>(root, id);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

inline QStringList childTexts(QTreeWidgetItem* parent) {
    QStringList out;
    for (int i = 0; i < parent->childCount(); ++i)
        out << parent->child(i)->text(0);
    return out;
}

inline QTreeWidgetItem* topLevelItem(QTreeWidget* tree, const QString& text) {
    const auto found = tree->findItems(text, Qt::MatchExactly);
    return found.isEmpty() ? nullptr : found.first();
}

inline void selectItem(QTreeWidget* tree, QTreeWidgetItem* item) {
    tree->scrollToItem(item);
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->visualItemRect(item).center());
    EXPECT_EQ(tree->currentItem(), item);
}

inline void expandItem(QTreeWidget* tree, QTreeWidgetItem* item) {
    selectItem(tree, item);
    QTest::keyClick(tree, Qt::Key_Plus);
}

// Selects the child of parent with that text and presses Add->.
inline void addFromTree(QWidget* dialog, QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; i < parent->childCount(); ++i)
        if (parent->child(i)->text(0) == text) {
            selectItem(parent->treeWidget(), parent->child(i));
            click(dialog, kAdd);
            return;
        }
    ADD_FAILURE() << "no item " << text.toStdString();
}

// Answers the modal dialogs that open after it was made, one step each, in order.
class ModalScript {
public:
    ModalScript() {
        for (QWidget* window : QApplication::topLevelWidgets())
            window->setProperty("scripted", true);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            if (!dialog || dialog->property("scripted").toBool() || m_steps.empty())
                return;
            dialog->setProperty("scripted", true);
            const auto step = std::move(m_steps.front());
            m_steps.pop_front();
            handled.push_back(dialog->property("ctlId").toInt());
            step(dialog);
        });
        m_timer.start(10);
    }
    void then(std::function<void(QDialog*)> step) { m_steps.push_back(std::move(step)); }
    bool done() const { return m_steps.empty(); }
    std::vector<int> handled; // template numbers of the dialogs answered

private:
    QTimer m_timer;
    std::deque<std::function<void(QDialog*)>> m_steps;
};
