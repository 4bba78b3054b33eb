// Text from a file or a unit in the window: control characters are shown as escapes.
#include <QFile>
#include <QFileDialog>
#include <QTableWidget>
#include <QTemporaryDir>

#include "gui_window.h"
#include "settings_file.h"

using namespace gui_test;

TEST_F(WindowTest, TheDifferencesOfAnImportShowControlCharactersAsEscapes) {
    open();
    QTemporaryDir dir;
    const QString path = dir.filePath("forged.json");
    Settings_t forged = sim::unit().settings();
    std::memcpy(forged.registration, "G\x1b[2J\nvne:9", 11);
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(settings_file::write(forged, {}));
    }
    whenModal<QFileDialog>([&](QFileDialog *d) {
        d->selectFile(path);
        static_cast<QDialog *>(d)->accept();
    });
    QString shown;
    whenModal<QDialog>([&](QDialog *d) {
        auto *table = d->findChild<QTableWidget *>("tableWidget_importDifferences");
        if (table != nullptr && table->rowCount() == 1) {
            shown = table->item(0, 2)->text();
        }
        d->reject();
    });
    w<QAction>("actionImportSettings")->trigger();
    EXPECT_EQ(shown, "G\\x1b[2J\\x0avne:9");
}
