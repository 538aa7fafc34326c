#include "app/MainWindow.h"

namespace pv {

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("main"));
    setWindowTitle(QStringLiteral("Polvarine"));
    setMinimumSize(1080, 700);
}

} // namespace pv
