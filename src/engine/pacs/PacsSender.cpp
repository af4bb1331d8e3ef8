#include "engine/pacs/PacsSender.h"

#include <future>

#include "engine/pacs/SendJob.h"

namespace engine {

const char* ArrivalName(Arrival arrival)
{
    switch (arrival) {
    case Arrival::Refused:
        return "refused";
    case Arrival::Unconfirmed:
        return "unconfirmed";
    case Arrival::NotCommitted:
        return "not committed";
    case Arrival::NotFound:
        return "not found";
    case Arrival::Committed:
        return "committed";
    case Arrival::Found:
        return "found";
    case Arrival::NotSent:
        break;
    }
    return "not sent";
}

Arrival ArrivalOf(std::string_view name)
{
    for (const Arrival arrival : {Arrival::Refused, Arrival::Unconfirmed, Arrival::NotCommitted, Arrival::NotFound,
             Arrival::Committed, Arrival::Found}) {
        if (name == ArrivalName(arrival)) {
            return arrival;
        }
    }
    return Arrival::NotSent;
}
SendResult SendImages(const SendSettings& settings, SendMode mode, const std::vector<SendItem>& items,
    std::vector<SendOutcome>& outcomes, const std::function<void(const SendProgress&)>& progress,
    const std::function<bool()>& stop)
{
    sending::PrepareDcmtk();
    sending::SendJob job(settings, items, outcomes);
    auto done = std::async(std::launch::async, [&] { return job.Run(mode); });
    // The caller is asked about a stop, and told the progress, ten times a second: soon enough for a
    // window, and nothing against a send that takes seconds at least.
    while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
        if (stop && stop()) {
            job.Stop();
        }
        if (progress) {
            SendProgress now;
            now.total = static_cast<std::int64_t>(items.size());
            now.stored = job.stored;
            now.toStore = job.toStore;
            now.round = job.round;
            now.phase = job.phase;
            progress(now);
        }
    }
    return done.get();
}

} // namespace engine
