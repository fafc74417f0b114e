// dravelin-gallery: the plug-in's widgets filled with real data, to look at them without the
// whole application. `--screenshot DIR` saves every page as a PNG and exits.
#include "browser/models/DatasetMemoryLoader.h"
#include "browser/models/DatasetPreviewLabel.h"
#include "browser/models/DicomBrowserModel.h"
#include "browser/widgets/DateFilterWidget.h"
#include "browser/widgets/TagsWidget.h"
#include "host/dicom/DatasetCache.h"
#include "tools/gallery/EditorPages.h"
#include "tools/gallery/ExportPages.h"
#include "tools/gallery/HostPages.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QProcess>
#include <QSettings>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QVBoxLayout>

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdatset.h>
#include <dcmtk/oflog/oflog.h>

#include <cstdio>
#include <functional>
#include <memory>

using namespace Dravelin;

namespace {

QString corpusFile(const QString& name)
{
    return QDir(QStringLiteral(DRAVELIN_GALLERY_PYDICOM_DATA)).filePath("test_files/" + name);
}

// Waits for background work while keeping the event loop (and queued results) running.
void spinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < timeoutMs)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

QWidget* tagsPage(Dicom::DatasetCache& cache, const QString& file, const QString& filter, bool editable)
{
    auto* tags = new Dicom::TagsWidget(cache.loadFromFile(file.toStdString(), nullptr, true));
    tags->setEditable(editable);
    if (!filter.isEmpty())
        tags->findChild<QLineEdit*>("filterTagsEdit")->setText(filter);
    tags->resize(900, 600);
    return tags;
}

QWidget* dateFilterPage()
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* off = new DateFilterWidget(QObject::tr("Study date"));
    auto* range = new DateFilterWidget(QObject::tr("Series date"));
    range->setDateFilter(std::make_tuple(QDate(2019, 3, 1), QDate(2024, 1, 31)));
    auto* relative = new DateFilterWidget(QObject::tr("Acquired"));
    relative->setDateFilter(std::make_tuple(QDate(1950, 1, 1), QDate::currentDate()));
    if (auto* mode = relative->findChildren<QComboBox*>().value(0))
        mode->setCurrentIndex(1);
    auto* shown = new QLabel;
    const auto describe = [shown](const DateFilterWidget::Filter& f) {
        shown->setText(f ? QString("Filter: %1 .. %2")
                               .arg(std::get<0>(*f).toString(Qt::ISODate), std::get<1>(*f).toString(Qt::ISODate))
                         : QString("Filter: none"));
    };
    QObject::connect(relative, &DateFilterWidget::dateFilterChanged, shown, describe);
    describe(relative->dateFilter());
    layout->addWidget(off);
    layout->addWidget(range);
    layout->addWidget(relative);
    layout->addWidget(shown);
    layout->addStretch(1);
    page->resize(700, 180);
    return page;
}

struct PreviewPage
{
    QWidget* widget = nullptr;
    std::vector<Dicom::DatasetPreviewLabel*> labels;
};

PreviewPage previewPage(DicomBrowserModel* model)
{
    PreviewPage page;
    page.widget = new QWidget;
    auto* grid = new QGridLayout(page.widget);
    const QPixmap failed(":/PreviewFailed.png");
    auto* movie = new QMovie(":/PreviewLoadingTiny.gif", QByteArray(), page.widget);

    // Series with several images, the multi-frame image, and a patient row (nothing to show).
    std::vector<std::pair<QString, QModelIndex>> targets;
    for (int p = 0; p < model->rowCount(); ++p) {
        const QModelIndex patient = model->index(p, 0);
        const QModelIndex study = model->index(0, 0, patient);
        for (int s = 0; s < model->rowCount(study); ++s) {
            const QModelIndex series = model->index(s, 0, study);
            targets.emplace_back(series.data().toString().left(40), series);
        }
    }
    if (model->rowCount() > 0)
        targets.emplace_back(QObject::tr("Patient row"), model->index(0, 0));

    int column = 0;
    for (const auto& [title, index] : targets) {
        auto* label = new Dicom::DatasetPreviewLabel(model);
        label->setAlignment(Qt::AlignCenter);
        label->setErrorPlaceholder(failed);
        label->setLoadingPlaceholder(movie);
        label->setCurrent(index);
        auto* caption = new QLabel;
        const auto describe = [caption, label, title = title](int i) {
            caption->setText(
                QString("%1\nimage %2 of %3").arg(title).arg(i + 1).arg(std::max(1, label->framesCount())));
        };
        QObject::connect(label, &Dicom::DatasetPreviewLabel::imageIndexChanged, caption, describe);
        describe(label->imageIndex());
        grid->addWidget(label, 0, column);
        grid->addWidget(caption, 1, column++);
        page.labels.push_back(label);
    }
    return page;
}

QWidget* memoryLoaderPage(std::shared_ptr<Dicom::DatasetCache> cache, int& left)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    auto* status = new QLabel;
    auto* loader = new Dicom::DatasetMemoryLoader(cache, page);
    const int before = cache->size();
    QObject::connect(loader, &Dicom::DatasetMemoryLoader::queueSizeChanged, status,
                     [status, cache, before, &left](int n) {
                         left = n;
                         status->setText(QString("Files left: %1\nDatasets in the cache: %2 (before: %3)")
                                             .arg(n)
                                             .arg(cache->size())
                                             .arg(before));
                     });
    loader->setMaxThreadCount(2);
    for (const char* name : {"MR_small.dcm", "MR_small_RLE.dcm", "JPEG-lossy.dcm", "rtplan.dcm", "rtstruct.dcm"})
        loader->addToQueue(Filesystem::Url::fromLocalFile(corpusFile(name)));
    layout->addWidget(status);
    layout->addStretch(1);
    page->resize(400, 120);
    return page;
}

QWidget* resourcesPage()
{
    auto* page = new QWidget;
    auto* layout = new QHBoxLayout(page);
    for (const char* name : {":/PreviewFailed.png", ":/PlusIcon.png", ":/Logo.ico"}) {
        auto* label = new QLabel;
        label->setPixmap(QPixmap(name));
        label->setToolTip(name);
        layout->addWidget(label);
    }
    for (const char* name : {":/PreviewLoading.gif", ":/PreviewLoadingTiny.gif"}) {
        auto* label = new QLabel;
        auto* movie = new QMovie(name, QByteArray(), label);
        label->setMovie(movie);
        movie->start();
        movie->jumpToFrame(2);
        layout->addWidget(label);
    }
    page->resize(520, 220);
    return page;
}

// A 9-image series written by the data generator; empty when it cannot be written.
QString generate(QTemporaryDir& dir, const QStringList& args)
{
    QProcess generator;
    generator.start(QStringLiteral(DRAVELIN_GALLERY_GEN_DATA_EXE), args);
    if (!generator.waitForFinished(120000) || generator.exitCode() != 0)
        return QString();
    return dir.path();
}

QString generateSeries(QTemporaryDir& dir)
{
    return generate(dir, {"folder", dir.path(), "--patients", "1", "--studies", "1", "--series", "1", "--images", "9"});
}

}  // namespace

int main(int argc, char** argv)
{
    OFLog::configure(OFLogger::FATAL_LOG_LEVEL);
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName("dravelin-gallery");
    // Demo settings stay out of the user's own.
    QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    const QStringList args = QCoreApplication::arguments();
    const int shotIndex = args.indexOf("--screenshot");
    const QString shotDir = shotIndex >= 0 ? args.value(shotIndex + 1) : QString();
    if (shotIndex >= 0 && shotDir.isEmpty()) {
        std::fprintf(stderr, "usage: dravelin-gallery [--screenshot DIR]\n");
        return 2;
    }

    auto cache = std::make_shared<Dicom::DatasetCache>(512);
    QTemporaryDir seriesDir;
    std::vector<std::shared_ptr<DcmDataset>> datasets;
    std::vector<std::string> paths;
    const QString generated = generateSeries(seriesDir);
    if (!generated.isEmpty()) {
        Filesystem::Url folder = Filesystem::Url::fromLocalFile(generated);
        folder.appendSubquery("recursive", "1");
        datasets = cache->load(folder, &paths, nullptr, false);
    }
    for (const char* name : {"SC_rgb_rle_2frame.dcm", "CT_small.dcm"}) {
        const std::string path = corpusFile(name).toStdString();
        if (auto ds = cache->loadFromFile(path, nullptr, false)) {
            datasets.push_back(ds);
            paths.push_back(path);
        }
    }
    DicomBrowserModel model(datasets, paths, cache);

    QTemporaryDir sampleDir;
    const QString sample = generate(sampleDir, {"sample", sampleDir.path()});

    int filesLeft = -1;
    PreviewPage preview = previewPage(&model);
    const std::vector<std::pair<QString, QWidget*>> pages = {
        {"tags", tagsPage(*cache, corpusFile("CT_small.dcm"), QString(), false)},
        {"tags-sequences", tagsPage(*cache, corpusFile("rtplan.dcm"), "dose", true)},
        {"date-filter", dateFilterPage()},
        {"preview", preview.widget},
        {"memory-loader", memoryLoaderPage(cache, filesLeft)},
        {"resources", resourcesPage()},
        {"settings-dialog", HostPages::settingsDialog()},
        {"host-icons", HostPages::icons()},
        {"progress", HostPages::progress()},
        {"editor", EditorPages::editor(sample)},
        {"profile-dialog", EditorPages::profileDialog("patient")},
        {"burned-in-preview", EditorPages::burnedInPreview(false)},
        {"burned-in-result", EditorPages::burnedInPreview(true)},
        {"export-extensions", ExportPages::exportExtensions(corpusFile("CT_small.dcm"))},
        {"export-settings", ExportPages::exportSettings(corpusFile("CT_small.dcm"), false)},
        {"export-tags", ExportPages::exportSettings(corpusFile("CT_small.dcm"), true)},
        {"show-dicom-tags", ExportPages::tagPanel(corpusFile("rtdose.dcm"), 3)},
    };

    if (shotDir.isEmpty()) {
        QTabWidget window;
        window.setWindowTitle("Dravelin DICOM widgets");
        window.setWindowIcon(QIcon(":/Logo.ico"));
        for (const auto& [name, page] : pages)
            window.addTab(page, name);
        window.resize(1000, 700);
        window.show();
        return QApplication::exec();
    }

    QDir().mkpath(shotDir);
    for (auto* label : preview.labels)
        label->thumbnail();
    spinUntil([&filesLeft] { return filesLeft == 0; }, 30000);
    int failures = 0;
    for (const auto& [name, page] : pages) {
        page->show();
        QApplication::processEvents();
        const QString file = QDir(shotDir).filePath(name + ".png");
        if (!page->grab().save(file)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(file));
            ++failures;
        } else {
            std::printf("%s\n", qPrintable(file));
        }
    }
    for (const auto& page : pages)
        delete page.second;
    return failures == 0 ? 0 : 1;
}
