#include "service/answering_service.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>

#include "service/service_log.h"

namespace kestrix::service {

namespace {

using namespace std::chrono_literals;

// How often kept changes are offered to the database again.
constexpr auto kChargeRetry = 250ms;

// A quota (21) or credit (18) change rather than a read ("0").
bool isCharge(const quellind_record& record) {
    if (record.code != 18 && record.code != 21) return false;
    const std::string data(record.data, ::strnlen(record.data, sizeof record.data));
    return !data.empty() && data != "0";
}

quellind_record eventOf(int32_t code, const std::string& user, const std::string& data,
                        const std::string& address) {
    quellind_record record{};
    record.code = code;
    std::memcpy(record.user_name, user.data(), std::min(user.size(), sizeof record.user_name - 1));
    std::memcpy(record.data, data.data(), std::min(data.size(), sizeof record.data - 1));
    std::memcpy(record.address, address.data(),
                std::min(address.size(), sizeof record.address - 1));
    return record;
}

template <std::size_t N>
void setText(char (&field)[N], std::string_view text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

AnsweringService::AnsweringService(const PluginLibrary& library, ChargeQueue& charges,
                                   SessionRegister& sessions)
    : library_(library), charges_(charges), sessions_(sessions) {
    writer_ = std::thread([this] { writeQueuedCharges(); });
}

AnsweringService::~AnsweringService() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    writer_.join();
}

quellind_reply AnsweringService::answer(SessionGuard& guard, const quellind_request& request) {
    quellind_reply reply{};
    reply.version = QUELLIND_WIRE_VERSION;
    reply.record = request.record;
    if (request.version != QUELLIND_WIRE_VERSION) {
        reply.status = QUELLIND_BAD_REQUEST;
        return reply;
    }
    switch (request.kind) {
        case QUELLIND_ASK:
            reply.status = ask(guard, reply.record);
            break;
        case QUELLIND_STILL_ALLOWED:
            reply.status = stillAllowed(guard, reply.record);
            break;
        case QUELLIND_ADMIT:
            reply.status = admit(guard, reply.record);
            break;
        default:
            reply.status = QUELLIND_BAD_REQUEST;
    }
    return reply;
}

quellind_status AnsweringService::ask(SessionGuard& guard, quellind_record& record) {
    const quellind_record asked = record;
    if (!guard.admit(record)) {
        logWarning("refused event " + std::to_string(asked.code) + " for \"" +
                   std::string(asked.user_name, ::strnlen(asked.user_name, 40)) +
                   "\" on a connection " +
                   (guard.bound() ? "of \"" + guard.account() + "\"" : "before its login"));
        record = asked;
        return QUELLIND_REFUSED;
    }
    if (SessionGuard::isPasswordCheck(record.code)) {
        const auto delay = guard.passwordDelay();
        if (delay.count() > 0) std::this_thread::sleep_for(delay);
    }
    if (isCharge(record) && charges_.size() > 0) {
        // Behind changes still waiting: in their order.
        const Charge charge{record.code, guard.account(),
                            std::string(record.data, ::strnlen(record.data, sizeof record.data))};
        if (!charges_.add(charge)) return QUELLIND_NOT_ANSWERING;
        record.flag = 1;
        wake_.notify_all();
        return QUELLIND_QUEUED;
    }
    const quellind_record before = record;
    const PluginLibrary::Answer answer = library_.ask(record);
    databaseAnswered(answer.databaseFailed, before.code);
    if (!answer.answered) return QUELLIND_NO_ANSWER;
    if (answer.databaseFailed) {
        if (!isCharge(before)) return QUELLIND_NOT_ANSWERING;
        const Charge charge{before.code, guard.account(),
                            std::string(before.data, ::strnlen(before.data, sizeof before.data))};
        record = before;
        if (!charges_.add(charge)) {
            logError("a change of " + charge.user + "'s " +
                     (charge.code == 21 ? "quota" : "ratio credit") + " by " + charge.amount +
                     " could not be kept on disk");
            return QUELLIND_NOT_ANSWERING;
        }
        logWarning("kept a change of " + charge.user + "'s " +
                   (charge.code == 21 ? "quota" : "ratio credit") + " by " + charge.amount +
                   " until the database takes it");
        record.flag = 1;
        wake_.notify_all();
        return QUELLIND_QUEUED;
    }
    guard.answered(record);
    return QUELLIND_ANSWERED;
}

// The account still exists, is enabled and not expired (it has its home),
// and neither its own nor the server-wide list blocks the address.
quellind_status AnsweringService::stillAllowed(SessionGuard& guard, quellind_record& record) {
    if (!guard.bound()) return QUELLIND_REFUSED;
    const quellind_record checks[] = {
        eventOf(2, guard.account(), "", guard.address()),
        eventOf(4, guard.account(), guard.address(), guard.address()),
        eventOf(4, "", guard.address(), guard.address()),
    };
    for (quellind_record check : checks) {
        const PluginLibrary::Answer answer = library_.ask(check);
        databaseAnswered(answer.databaseFailed, check.code);
        if (answer.databaseFailed) return QUELLIND_NOT_ANSWERING;
        if (check.flag != 1) {
            record.flag = 0;
            return QUELLIND_SESSION_ENDS;
        }
    }
    if (guard.registration() != 0) {
        const std::optional<bool> ended = sessions_.ended(guard.registration());
        if (!ended) return QUELLIND_NOT_ANSWERING;
        if (*ended) {
            logInfo("session " + std::to_string(guard.registration()) + " of " + guard.account() +
                    " ended by an administrator");
            record.flag = 0;
            return QUELLIND_SESSION_ENDS;
        }
    }
    record.flag = 1;
    return QUELLIND_ANSWERED;
}

// The account's limits as the plug-in reads them, and the sessions of every
// host counted against them.
quellind_status AnsweringService::admit(SessionGuard& guard, quellind_record& record) {
    if (!guard.bound()) return QUELLIND_REFUSED;
    if (guard.registration() != 0) {
        record.flag = 1;
        return QUELLIND_ANSWERED;
    }
    const auto refused = [&](const char* limit) {
        setText(record.data, limit);
        record.flag = 0;
        return QUELLIND_ANSWERED;
    };
    SessionLimits limits;
    for (const int32_t code : {29, 33, 24}) {
        quellind_record asked = eventOf(code, guard.account(), "", guard.address());
        const PluginLibrary::Answer answer = library_.ask(asked);
        databaseAnswered(answer.databaseFailed, code);
        if (answer.databaseFailed) return QUELLIND_NOT_ANSWERING;
        if (!answer.answered) continue;
        if (code == 24) {
            // A switch answers in its data's first byte.
            if (asked.flag == 1 && asked.data[0] == 1) limits.perAddress = 1;
            continue;
        }
        if (asked.flag != 1) return refused("unreadable");
        const long long value = std::atoll(asked.data);
        (code == 29 ? limits.perAccount : limits.perAddress) = value > 0 ? value : 0;
    }
    const SessionRegister::Result result =
        sessions_.admit(guard.account(), guard.address(), guard.process(), limits);
    switch (result.outcome) {
        case SessionRegister::Outcome::Admitted:
            guard.setRegistration(result.id);
            record.flag = 1;
            return QUELLIND_ANSWERED;
        case SessionRegister::Outcome::AccountFull:
            return refused("account");
        case SessionRegister::Outcome::AddressFull:
            return refused("address");
        case SessionRegister::Outcome::CountLocally:
            return QUELLIND_NO_ANSWER;
        case SessionRegister::Outcome::NotAnswering:
            break;
    }
    return QUELLIND_NOT_ANSWERING;
}

void AnsweringService::closed(SessionGuard& guard) {
    if (guard.registration() != 0) sessions_.leave(guard.registration());
}

void AnsweringService::databaseAnswered(bool failed, int32_t code) {
    if (failed && !databaseDown_.exchange(true))
        logError("the account database is not answering (event " + std::to_string(code) +
                 "); sessions are told to try again");
    else if (!failed && databaseDown_.exchange(false))
        logInfo("the account database answers again");
}

void AnsweringService::writeQueuedCharges() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        wake_.wait_for(lock, kChargeRetry);
        if (stopping_ || charges_.size() == 0) continue;
        lock.unlock();
        const std::size_t written = charges_.replay([this](const Charge& charge) {
            quellind_record record = eventOf(charge.code, charge.user, charge.amount, "");
            const PluginLibrary::Answer answer = library_.ask(record);
            databaseAnswered(answer.databaseFailed, charge.code);
            if (answer.databaseFailed) return false;
            if (record.flag != 1)
                logWarning("the database refused a kept change of " + charge.user + "'s " +
                           (charge.code == 21 ? "quota" : "ratio credit") + " by " + charge.amount);
            return true;
        });
        if (written > 0)
            logInfo("wrote " + std::to_string(written) + " kept quota or credit change(s)");
        lock.lock();
    }
}

}  // namespace kestrix::service
