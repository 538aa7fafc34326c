#pragma once

#include <QMainWindow>

namespace pv {

// The program's main window.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget* parent = nullptr);
};

} // namespace pv
