#include "gui/Style.h"

#include "gui/ColorScheme.h"

#include <QApplication>
#include <QPalette>
#include <QRegularExpression>
#include <QStyleFactory>
#include <map>

namespace vaultry::qt {

namespace {
const char* kSheet = R"(
QWidget { font-size: 10pt; color: #1e293b; }
QMainWindow, QDialog { background: #ffffff; }
QFrame[role="sidebar"] { background: #f8fafc; border-right: 1px solid #e2e8f0; }
QLabel[role="brand"] { font-size: 15pt; font-weight: 700; color: #0f172a; }
QLabel[role="title"] { font-size: 17pt; font-weight: 700; color: #0f172a; }
QLabel[role="subtitle"] { font-size: 10pt; color: #64748b; }
QLabel[role="section"] { font-size: 9pt; font-weight: 700; color: #64748b; letter-spacing: 1px;
                         text-transform: uppercase; }
QLabel[role="cardtitle"] { font-size: 11.5pt; font-weight: 600; color: #0f172a; }
QLabel[role="body"] { color: #475569; }
QLabel[role="faint"] { color: #94a3b8; font-size: 9pt; }
QLabel[role="warning"] { color: #dc2626; font-weight: 600; }
QLabel[role="path"] { font-family: monospace; color: #334155; }
QFrame[role="card"] { background: #ffffff; border: 1px solid #e2e8f0; border-radius: 12px; }
QFrame[role="card"] QLabel { border: none; background: transparent; }
QWidget[role="toolbar"] { background: #f8fafc; border-bottom: 1px solid #e2e8f0; }
QToolButton[role="nav"] { border: none; border-radius: 8px; padding: 6px 10px; text-align: left;
                          color: #334155; font-weight: 500; }
QToolButton[role="nav"]:hover { background: #eef2ff; }
QToolButton[role="nav"]:checked { background: #e0e7ff; color: #3730a3; font-weight: 600; }
QToolButton[role="round"] { border: 1px solid #e2e8f0; border-radius: 18px; font-size: 16pt;
                            color: #475569; background: #ffffff; }
QToolButton[role="round"]:hover { background: #f1f5f9; }
QPushButton { background: #ffffff; border: 1px solid #cbd5e1; border-radius: 8px; padding: 6px 14px;
              color: #1e293b; }
QPushButton:hover { background: #f8fafc; border-color: #94a3b8; }
QPushButton:pressed { background: #f1f5f9; }
QPushButton:disabled { color: #94a3b8; border-color: #e2e8f0; }
QPushButton::menu-indicator { image: url(:/assets/chevrondown.svg); subcontrol-origin: padding;
                              subcontrol-position: right center; right: 6px; width: 10px; height: 10px; }
QPushButton[primary="true"] { background: #4f46e5; border: 1px solid #4338ca; color: white; font-weight: 600; }
QPushButton[primary="true"]:hover { background: #4338ca; }
QPushButton[skin="true"] { background: transparent; border: none; padding: 4px 8px; border-radius: 8px; }
QPushButton[skin="true"]:hover { background: rgba(79, 70, 229, 0.08); }
QPushButton[closeButton="true"] { padding: 0; border-radius: 13px; }
QPushButton[closeButton="true"]:hover { background: rgba(255, 255, 255, 0.18); }
QPushButton[role="filter"] { color: #334155; padding: 4px 10px; }
QPushButton[role="filter"][current="true"] { background: #e0e7ff; color: #3730a3; font-weight: 600; }
QPushButton[role="source"] { text-align: left; padding: 4px 6px; color: #334155; }
QLineEdit { border: 1px solid #cbd5e1; border-radius: 8px; padding: 4px 10px; background: #ffffff;
            selection-background-color: #c7d2fe; }
QLineEdit:focus { border: 1.5px solid #6366f1; }
QTimeEdit, QComboBox { border: 1px solid #cbd5e1; border-radius: 6px; padding: 3px 8px; background: #ffffff; }
QComboBox::drop-down { border: none; width: 22px; }
QComboBox::down-arrow { image: url(:/assets/chevrondown.svg); width: 12px; height: 12px; }
QComboBox QAbstractItemView { border: 1px solid #e2e8f0; selection-background-color: #eef2ff;
                              selection-color: #3730a3; }
QToolButton { border: none; border-radius: 6px; padding: 3px; }
QToolButton:hover { background: #f1f5f9; }
QTableView, QListView { border: 1px solid #e2e8f0; border-radius: 10px; background: #ffffff;
                        alternate-background-color: #f8fafc; selection-background-color: #e0e7ff;
                        selection-color: #1e293b; }
QListView[role="well"] { padding: 14px 8px 8px 8px; }
QTableView[role="tidylist"] { selection-background-color: #fde68a; selection-color: #422006; }
QHeaderView::section { background: #f8fafc; border: none; border-bottom: 1px solid #e2e8f0; padding: 4px 8px;
                       color: #64748b; font-weight: 600; }
QTabWidget::pane { border: none; }
QTabBar::tab { padding: 6px 16px; border: none; color: #64748b; font-weight: 600; }
QTabBar::tab:selected { color: #4f46e5; border-bottom: 2px solid #4f46e5; }
QCheckBox { spacing: 8px; }
QProgressBar { border: none; background: #e2e8f0; border-radius: 3px; max-height: 6px; }
QProgressBar::chunk { background: #6366f1; border-radius: 3px; }
QProgressBar[role="strength"]::chunk { background: #dc2626; }
QProgressBar[role="strength"][level="1"]::chunk { background: #ea580c; }
QProgressBar[role="strength"][level="2"]::chunk { background: #ca8a04; }
QProgressBar[role="strength"][level="3"]::chunk { background: #16a34a; }
QProgressBar[role="strength"][level="4"]::chunk { background: #15803d; }
QSlider { min-height: 22px; }
QSlider::groove:horizontal { height: 4px; background: #e2e8f0; border-radius: 2px; }
QSlider::sub-page:horizontal { background: #6366f1; border-radius: 2px; }
QSlider::handle:horizontal { background: #ffffff; border: 1px solid #94a3b8; width: 16px; height: 16px;
                             margin: -7px 0; border-radius: 8px; }
QMenu { background: #ffffff; border: 1px solid #e2e8f0; padding: 6px; border-radius: 8px; }
QMenu::item { padding: 6px 22px 6px 12px; border-radius: 6px; }
QMenu::item:selected { background: #eef2ff; color: #3730a3; }
QMenu::separator { height: 1px; background: #e2e8f0; margin: 5px 8px; }
)";
// The dark scheme: each colour of the light sheet and its counterpart. Surfaces darken, text
// lightens, the accent stays.
const std::map<QString, QString> kDark = {
    {"#ffffff", "#1f2330"}, {"#f8fafc", "#262b38"}, {"#f1f5f9", "#2d3342"}, {"#e2e8f0", "#3a4152"},
    {"#cbd5e1", "#4a5266"}, {"#94a3b8", "#8391a7"}, {"#64748b", "#9aa6b8"}, {"#475569", "#b4bfcd"},
    {"#334155", "#cdd5e0"}, {"#1e293b", "#e2e8f0"}, {"#0f172a", "#f1f5f9"}, {"#eef2ff", "#2e3150"},
    {"#e0e7ff", "#373c66"}, {"#3730a3", "#c7d2fe"}, {"#c7d2fe", "#4f46e5"}, {"#fde68a", "#8a6d1c"},
    {"#422006", "#fff7e0"}, {"#dc2626", "#f87171"},
};

QString colour(const QString& light, bool dark) {
    if (!dark) return light;
    const auto it = kDark.find(light);
    return it == kDark.end() ? light : it->second;
}

}  // namespace

// One pass over the text, so that no colour is replaced twice.
QString recoloured(const QString& text, bool dark) {
    if (!dark) return text;
    static const QRegularExpression hex("#[0-9a-fA-F]{6}");
    QString out;
    qsizetype last = 0;
    for (auto it = hex.globalMatch(text); it.hasNext();) {
        const auto m = it.next();
        out += text.mid(last, m.capturedStart() - last) + colour(m.captured().toLower(), true);
        last = m.capturedEnd();
    }
    return out + text.mid(last);
}

bool darkPalette() {
    const QPalette p = QApplication::palette();
    return p.color(QPalette::Window).lightness() < p.color(QPalette::WindowText).lightness();
}

QColor schemed(const char* light) { return QColor(colour(QString::fromLatin1(light), darkPalette())); }

void applyStyle() { applyStyle(ColorScheme::instance().dark()); }

void applyStyle(bool dark) {
    ColorScheme::instance();  // reads the desktop's own palette before ours replaces it
    if (auto* fusion = QStyleFactory::create("Fusion")) QApplication::setStyle(fusion);
    QPalette p = QApplication::palette();
    p.setColor(QPalette::Window, colour("#ffffff", dark));
    p.setColor(QPalette::Base, colour("#ffffff", dark));
    p.setColor(QPalette::AlternateBase, colour("#f8fafc", dark));
    p.setColor(QPalette::Highlight, QColor("#4f46e5"));
    p.setColor(QPalette::Button, colour("#ffffff", dark));
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(role, colour("#1e293b", dark));
    p.setColor(QPalette::PlaceholderText, colour("#94a3b8", dark));
    QApplication::setPalette(p);
    qApp->setStyleSheet(recoloured(kSheet, dark));
}

}  // namespace vaultry::qt
