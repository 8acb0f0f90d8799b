// The plot as a user meets it: loaded from the plotting library when first shown (or a line that
// says why not), zoomed by the wheel and a dragged rectangle, reset by double-click, read under
// the cursor, and exported from its context menu. With TQ_PLOT_SCREENSHOTS set to a folder, the
// plots are also saved there as pictures, for a person to look at.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAction>
#include <QChartView>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QValueAxis>
#include <QWheelEvent>
#include <memory>

#include "tests/support/TestContext.h"
#include "ui/plots/PlotCanvas.h"
#include "ui/plots/PlotData.h"
#include "ui/plots/PlotHost.h"
#include "ui/widgets/ElidedLabel.h"

namespace tq {
namespace {

void Shot(QWidget* widget, const char* name) {
    // The chart lays itself out and lets go of replaced axes from the event loop.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    const QString folder = qEnvironmentVariable("TQ_PLOT_SCREENSHOTS");
    if (!folder.isEmpty())
        widget->grab().save(QDir(folder).filePath(QString::fromLatin1(name) + ".png"));
}

PlotModel Staircase() {
    // 0 V from 1 s to 3 s; DAC B in codes, on a scale of its own.
    return WavePreviewPlot({{"DAC A", false, {-5, 0, 0, 5}}, {"DAC B", true, {0, 32768, 65535, 0}}},
                           1.0, "");
}

struct Plot : ::testing::Test {
    testing::TestContext ctx;
    ScriptedFileDialogs files;
    std::unique_ptr<PlotHost> host;

    void SetUp() override {
        ctx.context.files = &files;
        host = std::make_unique<PlotHost>(ctx.context, nullptr);
        host->SetLibraryFolder(QStringLiteral(TQ_PLOT_LIBRARY_DIR));
        host->resize(720, 420);
        host->SetModel(Staircase());
        host->show();
        ASSERT_NE(host->Canvas(), nullptr) << host->Problem().toStdString();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(host.get()));
    }
    QChartView* View() { return host->Canvas()->findChild<QChartView*>("ChartView"); }
    QValueAxis* Axis(Qt::Orientation orientation, int index = 0) {
        const auto axes = View()->chart()->axes(orientation);
        return index < axes.size() ? qobject_cast<QValueAxis*>(axes[index]) : nullptr;
    }
    // A point of the plot area, as a fraction of its width and height from its top left.
    QPoint At(double fx, double fy) {
        const QRectF area = View()->chart()->plotArea();
        const QPointF scene = View()->chart()->mapToScene(
            QPointF(area.left() + fx * area.width(), area.top() + fy * area.height()));
        return View()->mapFromScene(scene);
    }
    void Wheel(QPoint at, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWheelEvent event(at, View()->viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                          Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(View()->viewport(), &event);
    }
    // The pointer over the plot, sent to the plot alone: on a real display the system's own
    // pointer, somewhere else, must not count.
    void Hover(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, at, View()->viewport()->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QCoreApplication::sendEvent(View()->viewport(), &move);
    }
    QAction* Action(const char* name) {
        return host->Canvas()->findChild<QAction*>(QString::fromLatin1(name));
    }
};

TEST_F(Plot, HasAxesWithUnitsAndOneScalePerUnit) {
    ASSERT_NE(Axis(Qt::Horizontal), nullptr);
    EXPECT_EQ(Axis(Qt::Horizontal)->titleText(), "Time (s)");
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), 0);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), 4);
    ASSERT_EQ(View()->chart()->axes(Qt::Vertical).size(), 2);
    EXPECT_EQ(Axis(Qt::Vertical, 0)->titleText(), "Voltage (V)");
    EXPECT_EQ(Axis(Qt::Vertical, 1)->titleText(), "Output (code)");
    EXPECT_DOUBLE_EQ(Axis(Qt::Vertical, 0)->min(), -5.5);
    EXPECT_DOUBLE_EQ(Axis(Qt::Vertical, 0)->max(), 5.5);
    EXPECT_DOUBLE_EQ(Axis(Qt::Vertical, 0)->tickInterval(), 2.5);
    EXPECT_TRUE(Axis(Qt::Vertical, 0)->isGridLineVisible());
    EXPECT_EQ(View()->chart()->title(), "One period: 4 steps of 1 s, 4 s, 0.25 Hz");
    Shot(host.get(), "preview");
}

TEST_F(Plot, TheWheelZoomsAboutTheCursorAndADoubleClickResets) {
    Wheel(At(0.5, 0.5), 480);
    EXPECT_TRUE(host->Canvas()->Zoomed());
    QValueAxis* x = Axis(Qt::Horizontal);
    QValueAxis* y = Axis(Qt::Vertical);
    EXPECT_NEAR(x->max() - x->min(), 4 * 0.4096, 1e-9);  // four notches of 0.8
    EXPECT_NEAR((x->max() + x->min()) / 2, 2, 0.05);     // about the cursor
    EXPECT_NEAR(y->max() - y->min(), 11 * 0.4096, 1e-9);
    EXPECT_DOUBLE_EQ(x->tickInterval(), 0.25);  // finer ticks for the narrower range

    QTest::mouseDClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier, At(0.5, 0.5));
    EXPECT_FALSE(host->Canvas()->Zoomed());
    EXPECT_DOUBLE_EQ(x->min(), 0);
    EXPECT_DOUBLE_EQ(x->max(), 4);
    EXPECT_DOUBLE_EQ(y->min(), -5.5);

    // Shift: the time only; Ctrl: the values only.
    Wheel(At(0.25, 0.5), 120, Qt::ShiftModifier);
    EXPECT_NEAR(x->max() - x->min(), 3.2, 1e-9);
    EXPECT_DOUBLE_EQ(y->max() - y->min(), 11);
    Wheel(At(0.25, 0.5), 120, Qt::ControlModifier);
    EXPECT_NEAR(x->max() - x->min(), 3.2, 1e-9);
    EXPECT_NEAR(y->max() - y->min(), 8.8, 1e-9);
    // Outside the plot area the wheel does nothing.
    Wheel(QPoint(1, 1), 120);
    EXPECT_NEAR(x->max() - x->min(), 3.2, 1e-9);
}

TEST_F(Plot, ADraggedRectangleZoomsToIt) {
    // A click is not a rectangle.
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier, At(0.5, 0.5));
    EXPECT_FALSE(host->Canvas()->Zoomed());
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), 4);
    QTest::mousePress(View()->viewport(), Qt::LeftButton, Qt::NoModifier, At(0.25, 0.25));
    QTest::mouseMove(View()->viewport(), At(0.5, 0.5));
    QTest::mouseRelease(View()->viewport(), Qt::LeftButton, Qt::NoModifier, At(0.5, 0.5));
    EXPECT_TRUE(host->Canvas()->Zoomed());
    EXPECT_NEAR(Axis(Qt::Horizontal)->min(), 1, 0.05);
    EXPECT_NEAR(Axis(Qt::Horizontal)->max(), 2, 0.05);
    EXPECT_NEAR(Axis(Qt::Vertical)->max(), 2.75, 0.1);
    EXPECT_NEAR(Axis(Qt::Vertical)->min(), 0, 0.1);
    // The right button opens the menu and leaves the zoom alone.
    QTest::mouseClick(View()->viewport(), Qt::RightButton, Qt::NoModifier, At(0.5, 0.5));
    EXPECT_TRUE(host->Canvas()->Zoomed());
    EXPECT_NEAR(Axis(Qt::Horizontal)->max(), 2, 0.05);
}

TEST_F(Plot, ShowsTheValuesUnderTheCursor) {
    Hover(At(0.5, 0.3));
    const QString text = host->Canvas()->CursorText();
    EXPECT_THAT(text.toStdString(), ::testing::StartsWith("Time 2"));
    EXPECT_THAT(text.toStdString(), ::testing::HasSubstr("   DAC A 0 V   DAC B 65535 code"));
    EXPECT_EQ(host->Canvas()->findChild<QLabel*>("LabelReading")->text(), text);
    Shot(host.get(), "preview-cursor");
    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(View(), &leave);
    EXPECT_TRUE(host->Canvas()->CursorText().isEmpty());
    EXPECT_THAT(host->Canvas()->findChild<QLabel*>("LabelReading")->text().toStdString(),
                ::testing::HasSubstr("double-click: all"));
}

TEST_F(Plot, ANewModelKeepsTheUsersZoom) {
    Wheel(At(0.5, 0.5), 120);
    const double low = Axis(Qt::Horizontal)->min(), high = Axis(Qt::Horizontal)->max();
    PlotModel more = Staircase();
    more.series[0].points.push_back({4, 1});
    more.series[0].holdUntil = 5;
    host->SetModel(more);
    EXPECT_TRUE(host->Canvas()->Zoomed());
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), low);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), high);
    host->Canvas()->ResetZoom();
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), 5);
}

TEST_F(Plot, TheStripChartKeepsItsZoomWhileReadingsComeIn) {
    std::deque<LogPoint> log;
    const auto reading = [](int i) {
        return 24.0 + 0.0005 * i + 0.25 * std::round(std::sin(i / 25.0) * 2) +
               (i % 170 == 0 ? 0.25 : 0.0);
    };
    for (int i = 0; i < 600; ++i)
        log.push_back({i * 1.0, i == 300 ? std::nullopt
                                         : std::optional<float>(static_cast<float>(reading(i)))});
    host->SetModel(TemperaturePlot(log));
    QCoreApplication::processEvents();
    EXPECT_EQ(Axis(Qt::Horizontal)->titleText(), "Time since start (s)");
    EXPECT_EQ(Axis(Qt::Vertical)->titleText(), "Temperature (\u00b0C)");
    Shot(host.get(), "temperature");
    QTest::mousePress(View()->viewport(), Qt::LeftButton, Qt::NoModifier, At(0.4, 0.1));
    QTest::mouseMove(View()->viewport(), At(0.6, 0.9));
    QTest::mouseRelease(View()->viewport(), Qt::LeftButton, Qt::NoModifier, At(0.6, 0.9));
    const double low = Axis(Qt::Horizontal)->min(), high = Axis(Qt::Horizontal)->max();
    EXPECT_NEAR(low, 239.6, 3);
    EXPECT_NEAR(high, 359.4, 3);
    for (int i = 600; i < 610; ++i)
        log.push_back({i * 1.0, static_cast<float>(reading(i))});
    host->SetModel(TemperaturePlot(log));
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), low);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), high);
    Hover(At(0.5, 0.5));
    EXPECT_THAT(host->Canvas()->CursorText().toStdString(),
                ::testing::StartsWith("Time since start 29"));
    Shot(host.get(), "temperature-zoomed-cursor");
}

TEST_F(Plot, ExportsThePictureAndTheDataFromItsMenu) {
    QTemporaryDir dir;
    for (const char* name : {"ActionExportPng", "ActionExportSvg", "ActionExportCsv"})
        ASSERT_NE(Action(name), nullptr) << name;
    EXPECT_EQ(View()->contextMenuPolicy(), Qt::ActionsContextMenu);
    // The suffix is added when the name has none.
    files.names = {dir.filePath("plot"), dir.filePath("plot.svg"), dir.filePath("plot.CSV")};
    Action("ActionExportPng")->trigger();
    Action("ActionExportSvg")->trigger();
    Action("ActionExportCsv")->trigger();
    EXPECT_TRUE(ctx.messages.messages.empty());

    const QImage png(dir.filePath("plot.png"));
    ASSERT_FALSE(png.isNull());
    EXPECT_GE(png.width(), View()->width());
    QFile svg(dir.filePath("plot.svg"));
    ASSERT_TRUE(svg.open(QIODevice::ReadOnly));
    const QByteArray svgText = svg.readAll();
    EXPECT_TRUE(svgText.contains("<svg")) << svgText.left(200).toStdString();
    EXPECT_TRUE(svgText.contains("One period: 4 steps"));
    QFile csv(dir.filePath("plot.CSV"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    EXPECT_EQ(csv.readAll().toStdString(), PlotCsv(Staircase()));
    const QString folder = qEnvironmentVariable("TQ_PLOT_SCREENSHOTS");
    if (!folder.isEmpty())
        for (const char* name : {"plot.png", "plot.svg", "plot.CSV"}) {
            QFile::remove(QDir(folder).filePath(QStringLiteral("exported-") + name));
            QFile::copy(dir.filePath(name),
                        QDir(folder).filePath(QStringLiteral("exported-") + name));
        }

    // Cancelled: nothing written, nothing said.
    Action("ActionExportCsv")->trigger();
    EXPECT_TRUE(ctx.messages.messages.empty());
    // A place that cannot be written is told, with the path.
    files.names = {QStringLiteral("/nonexistent-folder/plot.png")};
    Action("ActionExportPng")->trigger();
    ASSERT_EQ(ctx.messages.messages.size(), 1u);
    EXPECT_THAT(ctx.messages.messages[0].text.toStdString(),
                ::testing::StartsWith("/nonexistent-folder/plot.png could not be written: "));
}

TEST_F(Plot, WithoutPointsShowsItsNote) {
    host->SetModel(TemperaturePlot({}));
    auto* note = host->Canvas()->findChild<QLabel*>("LabelNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), "Start the log to see the temperature");
    QString error;
    EXPECT_FALSE(host->Canvas()->Export(PlotExport::Png, "/tmp/unused.png", error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(Plot, TheLinearityPlotMarksItsWorstPoints) {
    std::vector<LinearityResult> results;
    for (int i = 0; i < 257; ++i) {
        const double inl = 0.6 * std::sin(i / 40.0) + (i == 190 ? -1.3 : 0);
        results.push_back({i * 256, inl, inl, 0});
    }
    for (std::size_t i = 1; i < results.size(); ++i)
        results[i].dnl = results[i].inlEndPoint - results[i - 1].inlEndPoint;
    host->SetModel(LinearityPlot(results));
    QCoreApplication::processEvents();
    int marks = 0;
    for (QGraphicsItem* item : View()->scene()->items())
        if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            if (text->text().contains(" LSB at code ")) {
                ++marks;
                EXPECT_TRUE(text->isVisible()) << text->text().toStdString();
                EXPECT_TRUE(View()->chart()->plotArea().contains(text->pos()));
            }
    EXPECT_EQ(marks, 2);  // INL's and DNL's
    Shot(host.get(), "linearity");
    // A plot too low for "Error (LSB)" along its axis titles it by the unit, never cut short.
    host->resize(720, 170);
    QCoreApplication::processEvents();
    const auto* y = qobject_cast<QValueAxis*>(View()->chart()->axes(Qt::Vertical).first());
    ASSERT_NE(y, nullptr);
    EXPECT_EQ(y->titleText(), "LSB");
    Shot(host.get(), "linearity-low");
    host->resize(720, 420);
    QCoreApplication::processEvents();
    EXPECT_EQ(y->titleText(), "Error (LSB)");

    // A step of 1.2 LSB: both curves are worst at the same code, and their texts do not overlap.
    std::vector<LinearityResult> step;
    for (int i = 0; i < 129; ++i)
        step.push_back({i * 512, i >= 64 ? 1.2 : 0, 0, i == 64 ? 1.2 : 0});
    host->SetModel(LinearityPlot(step));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    std::vector<QRectF> boxes;
    for (QGraphicsItem* item : View()->scene()->items())
        if (auto* text = dynamic_cast<QGraphicsSimpleTextItem*>(item))
            if (text->isVisible() && text->text().contains(" at code 32768"))
                boxes.push_back(text->sceneBoundingRect());
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_FALSE(boxes[0].intersects(boxes[1]));
    Shot(host.get(), "linearity-step");
}

TEST(PlotHost, WithoutTheLibrarySaysSoInOneLineAndKeepsTheData) {
    testing::TestContext ctx;
    QTemporaryDir empty;
    const struct {
        const char* what;
        QByteArray bytes;  // of the file named as the library; empty: none
        const char* says;
    } cases[] = {
        {"missing", {}, "is missing; reinstall the program"},
        {"not a library", "not an ELF file", ""},
    };
    for (const auto& c : cases) {
        if (!c.bytes.isEmpty()) {
            QFile file(empty.filePath(kPlotLibraryName));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(c.bytes);
        }
        PlotHost host(ctx.context, nullptr);
        host.SetLibraryFolder(empty.path());
        host.SetModel(Staircase());
        host.show();
        EXPECT_EQ(host.Canvas(), nullptr) << c.what;
        const std::string problem = host.Problem().toStdString();
        EXPECT_THAT(problem, ::testing::StartsWith("Plots cannot be shown: ")) << c.what;
        EXPECT_THAT(problem, ::testing::HasSubstr(c.says)) << c.what;
        EXPECT_EQ(problem.find('\n'), std::string::npos) << c.what;
        auto* line = host.findChild<ElidedLabel*>("LabelNoPlot");
        ASSERT_NE(line, nullptr);
        EXPECT_LT(host.minimumSizeHint().width(), 200) << "a long path widens the window";
        // Shown whole, or cut with an ellipsis; the label keeps the whole text.
        EXPECT_EQ(line->text(), host.Problem()) << c.what;
        EXPECT_TRUE(line->ShownText() == host.Problem() ||
                    line->ShownText().endsWith(QChar(0x2026)))
            << c.what;
        host.SetModel(TemperaturePlot({}));  // the window goes on feeding it
        EXPECT_EQ(host.Model().note, "Start the log to see the temperature");
    }
}

}  // namespace
}  // namespace tq
