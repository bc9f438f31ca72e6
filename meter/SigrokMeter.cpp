// A hand-held meter driven by libsigrok: its session runs on a thread of its own, and each sample
// is posted back to the window's thread and checked there for the point's quantity.

// First: glib's and glibmm's headers use names that Qt's headers define as macros.
#include <libsigrokcxx/libsigrokcxx.hpp>

#include "SigrokMeter.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

// What a session's thread shares with its meter. The meter lets go of it when it stops the
// session or is destroyed; whatever the thread still reports after that reaches no one.
struct SigrokMailbox {
    std::mutex mutex;
    SigrokMeter* owner = nullptr;
    std::shared_ptr<sigrok::Session> session;
    bool stop = false;

    // The owner is destroyed on its own thread only after taking the mutex, so a call posted here
    // either finds it alive or is discarded with its other posted events.
    template <class Call>
    void Post(Call call)
    {
        const std::lock_guard lock(mutex);
        if (owner) QMetaObject::invokeMethod(owner, std::move(call), Qt::QueuedConnection);
    }
    void Release()
    {
        const std::lock_guard lock(mutex);
        owner = nullptr;
        stop = true;
        if (session) session->stop();
    }
};

namespace {

// libsigrok's drivers are process-wide structures bound to one context, so every meter and scan
// shares one, made when first needed, and only one of them scans or opens at a time.
std::mutex LibraryMutex;
std::weak_ptr<sigrok::Context> SharedContext;

std::shared_ptr<sigrok::Context> Library()
{
    const std::lock_guard lock(LibraryMutex);
    std::shared_ptr<sigrok::Context> context = SharedContext.lock();
    if (!context) {
        Glib::init();
        context = sigrok::Context::create();
        context->set_log_level(sigrok::LogLevel::ERR);
        SharedContext = context;
    }
    return context;
}

QString Text(const std::string& s) { return QString::fromStdString(s).trimmed(); }

// Called with LibraryMutex held.
std::vector<std::shared_ptr<sigrok::HardwareDevice>> ScanFor(const std::shared_ptr<sigrok::Context>& context,
                                                             const MeterSettings& s, const QString& conn, QString* why)
{
    const auto drivers = context->drivers();
    const auto driver = drivers.find(s.driver.toStdString());
    if (driver == drivers.end()) {
        *why = QStringLiteral("libsigrok has no driver named %1").arg(s.driver);
        return {};
    }
    std::map<const sigrok::ConfigKey*, Glib::VariantBase> options;
    if (!conn.isEmpty()) options[sigrok::ConfigKey::CONN] = Glib::Variant<Glib::ustring>::create(conn.toStdString());
    if (!s.serialComm.isEmpty())
        options[sigrok::ConfigKey::SERIALCOMM] = Glib::Variant<Glib::ustring>::create(s.serialComm.toStdString());
    auto found = driver->second->scan(options);
    if (found.empty())
        *why = QStringLiteral("no %1 meter answers on %2").arg(s.driver, conn.isEmpty() ? QStringLiteral("any port") : conn);
    return found;
}

MeterIdentity IdentityOf(const sigrok::HardwareDevice& device, const QString& driver, const QString& conn)
{
    MeterIdentity id;
    id.source = driver;
    id.vendor = Text(device.vendor());
    id.model = Text(device.model());
    id.version = Text(device.version());
    id.serial = Text(device.serial_number());
    id.connection = Text(device.connection_id());
    if (id.connection.isEmpty()) id.connection = conn;
    return id;
}

// libsigrok hands samples over as float: the shortest decimal that is that float is the number the
// meter displayed (37.0125, not 37.01250076), which a float's seven digits always hold.
double Displayed(float value)
{
    if (!std::isfinite(value)) return value;
    char text[32];
    const auto end = std::to_chars(text, text + sizeof text - 1, value).ptr;
    *end = '\0';
    return std::strtod(text, nullptr);
}

bool TakeSample(const std::shared_ptr<sigrok::Packet>& packet, MeterSample* sample)
{
    if (packet->type() != sigrok::PacketType::ANALOG) return false;
    const auto analog = std::dynamic_pointer_cast<sigrok::Analog>(packet->payload());
    if (!analog || analog->num_samples() == 0) return false;
    std::vector<float> values(analog->num_samples());
    analog->get_data_as_float(values.data());
    // A packet of several samples is a burst of one measurement; the newest is what is shown.
    sample->value = Displayed(values.back());
    sample->mq = analog->mq()->id();
    sample->unit = analog->unit()->id();
    sample->flags = sigrok::QuantityFlag::mask_from_flags(analog->mq_flags());
    sample->hasDigits = analog->is_digits_decimal();
    sample->digits = analog->digits();
    return true;
}

// The library's errors come as exceptions from anywhere in it: none may end the thread unseen.
QString Failure(const std::exception& e) { return QStringLiteral("libsigrok: %1").arg(QString::fromLocal8Bit(e.what())); }

}  // namespace

SigrokMeter::SigrokMeter(MeterSettings settings, QString conn, QObject* parent)
    : QObject(parent), settings_(std::move(settings)), conn_(std::move(conn))
{
    timeout_.setSingleShot(true);
    connect(&timeout_, &QTimer::timeout, this, &SigrokMeter::OnTimeout);
}

SigrokMeter::~SigrokMeter()
{
    pending_ = {};
    Stop();
}

void SigrokMeter::Query(const QByteArray&, Answer answer)
{
    if (answer) answer({}, QStringLiteral("a libsigrok meter is not asked in SCPI"));
}

void SigrokMeter::Measure(MeterQuantity quantity, const QByteArray&, Reading done)
{
    if (!done) return;
    Sample([quantity, done = std::move(done)](const MeterSample* sample, const QString& error) {
        done(sample ? CheckSample(*sample, quantity) : MeterReply{}, error);
    });
}

void SigrokMeter::Sample(Sampled done)
{
    if (!done) return;
    if (pending_) {
        done(nullptr, QStringLiteral("the meter is still being read"));
        return;
    }
    pending_ = std::move(done);
    timeout_.start(settings_.timeoutMs);
    if (!mailbox_) Start();
}

void SigrokMeter::Cancel()
{
    // The session goes on: the next point's reading takes its next sample.
    pending_ = {};
    timeout_.stop();
}

void SigrokMeter::Start()
{
    mailbox_ = std::make_shared<SigrokMailbox>();
    mailbox_->owner = this;
    const std::uint64_t generation = ++generation_;
    std::thread([this, box = mailbox_, port = port_, settings = settings_, conn = conn_, generation] {
        // Reads only what the thread was given; `this` is used solely inside calls posted back.
        const std::lock_guard portLock(*port);
        // The session's sources go to a main context of this thread's own, never the one the
        // window's thread iterates.
        GMainContext* loop = g_main_context_new();
        g_main_context_push_thread_default(loop);
        QString why;
        try {
            const auto context = Library();
            std::shared_ptr<sigrok::HardwareDevice> device;
            {
                const std::lock_guard lock(LibraryMutex);
                const auto found = ScanFor(context, settings, conn, &why);
                if (!found.empty()) {
                    device = found.front();
                    device->open();
                }
            }
            // However the session ends, the port is let go and the session forgotten, so that the
            // next reading's session can open the meter again.
            struct Release {
                std::shared_ptr<sigrok::HardwareDevice>& device;
                SigrokMailbox& box;
                ~Release()
                {
                    {
                        const std::lock_guard lock(box.mutex);
                        box.session.reset();
                    }
                    if (!device) return;
                    const std::lock_guard lock(LibraryMutex);
                    try {
                        device->close();
                    } catch (...) {
                    }
                }
            } release{device, *box};
            if (device) {
                const MeterIdentity id = IdentityOf(*device, settings.driver, conn);
                box->Post([this, generation, id] { OnOpened(generation, id); });
                auto session = context->create_session();
                session->add_device(device);
                session->add_datafeed_callback([this, box, generation](std::shared_ptr<sigrok::Device>, std::shared_ptr<sigrok::Packet> packet) {
                    // Called from the library's C code, which no exception may cross: a packet
                    // it cannot describe (a quantity unknown to the bindings) is no sample.
                    MeterSample sample;
                    bool taken = false;
                    try {
                        taken = TakeSample(packet, &sample);
                    } catch (const std::exception&) {
                    }
                    if (taken) box->Post([this, generation, sample] { OnSample(generation, sample); });
                });
                session->start();
                bool stopped;
                {
                    const std::lock_guard lock(box->mutex);
                    box->session = session;
                    stopped = box->stop;
                }
                if (stopped) session->stop();
                session->run();
                why = QStringLiteral("the meter's session ended");
            }
        } catch (const std::exception& e) {
            why = Failure(e);
        } catch (const Glib::Error& e) {
            why = QStringLiteral("libsigrok: %1").arg(QString::fromStdString(e.what()));
        } catch (...) {
            why = QStringLiteral("libsigrok failed");
        }
        g_main_context_pop_thread_default(loop);
        g_main_context_unref(loop);
        box->Post([this, generation, why] { OnEnded(generation, why); });
    }).detach();
}

void SigrokMeter::Stop()
{
    if (!mailbox_) return;
    mailbox_->Release();
    mailbox_.reset();
}

void SigrokMeter::OnOpened(std::uint64_t generation, const MeterIdentity& identity)
{
    if (generation == generation_) identity_ = identity;
}

void SigrokMeter::OnSample(std::uint64_t generation, const MeterSample& sample)
{
    if (generation != generation_ || !pending_) return;
    Finish(&sample, QString());
}

void SigrokMeter::OnEnded(std::uint64_t generation, const QString& why)
{
    if (generation != generation_) return;
    // The next reading starts a new session: the meter may be back by then.
    Stop();
    if (pending_) Finish(nullptr, why);
}

void SigrokMeter::OnTimeout()
{
    if (!pending_) return;
    // A meter that has gone quiet (a pulled cable, a meter switched off) is looked for afresh at
    // the next point rather than waited for again.
    Stop();
    Finish(nullptr, QStringLiteral("the meter gave no reading within %1 s").arg(settings_.timeoutMs / 1000.0, 0, 'g', 3));
}

void SigrokMeter::Finish(const MeterSample* sample, const QString& error)
{
    timeout_.stop();
    Sampled done = std::move(pending_);
    pending_ = {};
    if (done) done(sample, error);
}

namespace {

QList<std::pair<QString, QString>> Drivers(QString* error)
{
    QList<std::pair<QString, QString>> drivers;
    try {
        const auto context = Library();
        const std::lock_guard lock(LibraryMutex);
        for (const auto& [name, driver] : context->drivers()) {
            const auto keys = driver->config_keys();
            if (keys.count(sigrok::ConfigKey::MULTIMETER)) drivers.append({Text(name), Text(driver->long_name())});
        }
    } catch (const std::exception& e) {
        if (error) *error = Failure(e);
    } catch (...) {
        if (error) *error = QStringLiteral("libsigrok failed");
    }
    return drivers;
}

void Scan(const MeterSettings& settings, const QString& conn, QObject* context, SigrokScanDone done)
{
    auto* mailbox = new QObject;
    std::thread([mailbox, target = QPointer<QObject>(context), settings, conn, done = std::move(done)] {
        QList<MeterIdentity> found;
        QString why;
        try {
            const auto library = Library();
            const std::lock_guard lock(LibraryMutex);
            for (const auto& device : ScanFor(library, settings, conn, &why)) found.append(IdentityOf(*device, settings.driver, conn));
        } catch (const std::exception& e) {
            why = Failure(e);
        } catch (...) {
            why = QStringLiteral("libsigrok failed");
        }
        // Posted to a mailbox of its own, which lives until then, as `context` may be gone by now.
        QMetaObject::invokeMethod(
            mailbox,
            [mailbox, target, done, found, why] {
                mailbox->deleteLater();
                if (target) done(found, why);
            },
            Qt::QueuedConnection);
    }).detach();
}

std::unique_ptr<SigrokDevice> MakeMeter(const MeterSettings& settings, const QString& conn)
{
    return std::make_unique<SigrokMeter>(settings, conn);
}

const SigrokModuleApi Api{MakeMeter, Drivers, Scan};

}  // namespace

// The module's one entry point, found by its name.
extern "C" __attribute__((visibility("default"))) const SigrokModuleApi* KorvexSigrokModule() { return &Api; }
