// SPDX-License-Identifier: GPL-3.0-or-later
#include <QDebug>
#include <QElapsedTimer>
#include <QImage>
#include <QFile>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QScreen>
#include <QTimer>

#include <cstdlib>
#include <ctime>
#include <memory>

#include "app/app_runtime.h"
#include "app/appmodel.h"
#include "app/commandline.h"
#include "qml/navora_qml_module.h"
#include "app/quick_ui.h"
#include "app/single_instance.h"
#include "core/apppaths.h"
#include "core/persistantdata.h"
#include "core/appevents.h"
#include "core/display_metrics.h"
#include "core/pubsub.h"
#include "maplib/quick/mapitem.h"
#include "navdata/ais.h"
#include "navdata/dataconnection.h"
#include "navdata/dataconnection_sim.h"
#include "navdata/dsc.h"
#include "navdata/gpsposition.h"

namespace {

void UseDemoFeed(const char* name) {
    // The shipped logs sit together; the drill lives beside the demonstration trip.
    std::string feed = getDemoFeedPath();
    if (!feed.empty() && FileNameOf(feed) == "demo_sail.nmea") feed = feed.substr(0, feed.size() - 14) + name;
    if (!feed.empty() && !FileExists(feed)) feed.clear();
    if (feed.empty()) {
        qWarning() << "The demonstration feed is not installed; starting without it.";
        return;
    }
    CNMEASimulation::settings.filename = feed;
    CNMEASimulation::settings.SetChanged();
    CDataConnection::settings.gps_connection_type = CDataConnection::kSimulation;
    CDataConnection::settings.SetChanged();
    PersistantData::SaveAll();
}

QString ReadPersonality() {
    QFile f(QString::fromLocal8Bit((getAppDirectory() + "/personality.txt").c_str()));
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("Navora");
    const QString p = QString::fromUtf8(f.readAll()).trimmed();
    return p.isEmpty() ? QStringLiteral("Navora") : p;
}

// Logs when the first frame with a complete chart reached the screen: the figure that says
// how fast Navora opens. With NAVORA_SCREENSHOT=FILE the window is saved to FILE then, and
// with NAVORA_EXIT_AFTER_SCREENSHOT=1 the program ends (scripted checks of the window).
void WatchForFirstCompleteFrame(QQuickWindow* window, const QElapsedTimer& sinceStart) {
    auto done = std::make_shared<bool>(false);
    QObject::connect(window, &QQuickWindow::frameSwapped, window, [window, done, &sinceStart] {
        if (*done || !theApp) return;
        CDisplayViewQuickChart* item = theApp->FindLargestMapItem(false);
        const CQuickChartView* view = item ? item->ExistingView() : nullptr;
        if (!view || !view->IsOpen() || !view->LastFrameComplete()) return;
        *done = true;
        qInfo().noquote() << "First complete chart frame on screen after" << sinceStart.elapsed() << "ms:"
                          << QString::fromStdString(view->CurrentPath());
        const QByteArray shot = qgetenv("NAVORA_SCREENSHOT");
        if (shot.isEmpty()) return;
        QTimer::singleShot(0, window, [window, shot] {
            const QImage image = window->grabWindow();
            if (!image.save(QString::fromLocal8Bit(shot))) qWarning() << "Could not save the screenshot" << shot;
            if (qgetenv("NAVORA_EXIT_AFTER_SCREENSHOT") == "1") QCoreApplication::quit();
        });
    });
}

}  // namespace

int main(int argc, char* argv[]) {
    QElapsedTimer sinceStart;
    sinceStart.start();
    std::srand(unsigned(std::time(nullptr)));
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);

    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(NAVORA_VERSION));
    const StartupArguments startup = ParseStartupArguments(QCoreApplication::arguments());

    // One instance per user and profile: a second one hands its arguments over and goes.
    auto instance =
        std::make_unique<CSingleInstance>(startup.profile.isEmpty() ? QStringLiteral("default") : startup.profile);
    if (instance->isSecondary()) {
        instance->sendMessage(QCoreApplication::arguments().join(QLatin1Char('\n')).toLocal8Bit(), 100);
        qDebug() << "App already running.";
        return 0;
    }
    theSingleInstance = instance.get();

    auto pointerDetection = std::make_unique<PointerDeviceTypeDetection>();
    app.installEventFilter(pointerDetection.get());
    QCoreApplication::setOrganizationName(QStringLiteral("Navora"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("navora.app"));
    QCoreApplication::setApplicationName(startup.profile.isEmpty() ? QStringLiteral("default") : startup.profile);
    InstallTerminationHandler();

    qml_register_types_com_navora_nv();
    auto engine = std::make_unique<QQmlApplicationEngine>();
    engine->addImportPath(QStringLiteral("qrc:/"));
    theAppEngine = engine.get();
    for (const char* font : {":/Roboto-Regular.ttf", ":/Roboto-Bold.ttf", ":/Roboto-Italic.ttf"})
        QFontDatabase::addApplicationFont(QString::fromLatin1(font));

    CQuickUiServices ui;
    const bool firstRun = !FileExists(getAppDirectory() + "/Navora.ini");
    PersistantData::LoadAll(ReadPersonality().toStdString());
    // The "demo" profile starts, the first time, on the recorded trip shipped with the
    // program, so a newcomer sees the boat move without any hardware.
    if (firstRun && startup.profile == QLatin1String("demo")) UseDemoFeed("demo_sail.nmea");
    // The "drill" profile: man overboard, a SART and DSC distress calls, to practise with.
    if (firstRun && startup.profile == QLatin1String("drill")) UseDemoFeed("drill.nmea");
    load_app_data();
    InstallAppServices();
    CFeedRMC_to_GPSPosition::Start();
    // Ships around the boat and distress calls from the same feeds.
    CAISTargetManager::Start();
    CDSC_to_Mark::Start();

    QObject::connect(
        engine.get(), &QQmlApplicationEngine::objectCreated, &app,
        [&](QObject* obj, const QUrl&) {
            if (!obj) {
                QCoreApplication::exit(-1);
                return;
            }
            auto* window = qobject_cast<QQuickWindow*>(obj);
            if (!window) return;
            window->setIcon(QIcon(QStringLiteral(":/appicon.png")));
            if (theApp && theApp->fullScreen()) window->showFullScreen();
            if (QScreen* screen = window->screen()) {
                const double ratio = screen->devicePixelRatio();
                qDebug().nospace() << "devicePixelRatio: " << ratio << ", ldpi: " << screen->logicalDotsPerInch()
                                   << ", pdpi: " << screen->physicalDotsPerInch();
                SetGraphicsResolution(ratio);
            }
            WatchForFirstCompleteFrame(window, sinceStart);
            QObject::connect(window, &QWindow::activeChanged, window, [window] {
                if (!theApp) return;
                if (window->isActive()) {
                    Q_EMIT theApp->applicationDidBecomeActive();
                } else {
                    Q_EMIT theApp->applicationWillResignActive();
                }
            });
            ui.FlushPending();
            CDataConnection::AppWasResumed();
            CDataConnection::UpdatedBackgroundSettings();
            if (theApp) {
                theApp->processCommandLine(startup.files);
                theApp->onActivityCommandAttached();
            }
        },
        Qt::QueuedConnection);

    // Losing the foreground (suspend, session end, another app on a tablet) is when data
    // is most at risk: save it all then.
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &app, [](Qt::ApplicationState state) {
        if (state == Qt::ApplicationInactive || state == Qt::ApplicationSuspended) save_all_app_data();
    });

    engine->load(QUrl(QStringLiteral("qrc:/com/navora/nv/main.qml")));
    if (engine->rootObjects().isEmpty()) return -1;
    auto heartbeat = std::make_unique<RunHeartbeatUntilShutdown>();

    const int code = app.exec();

    CDataConnection::AppWasDestroyed();

    AppShutdownNotification shutdown;
    Listener<AppShutdownNotification>::Publish(shutdown);
    save_all_app_data();
    CDSC_to_Mark::Stop();
    CAISTargetManager::Stop();
    heartbeat.reset();
    engine.reset();
    theAppEngine = nullptr;
    // The pages and maps are gone: nothing refers to the managers any more.
    release_app_data();
    theSingleInstance = nullptr;
    instance.reset();
    return code;
}
