#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "plugin/access_checks.h"
#include "plugin/account_store.h"
#include "plugin/client_event.h"

namespace kestrix::plugin {

class EventRecord;

// Answers the server's events, one at a time. The connection string is
// read once, at the first event; the database connection lives as long as
// the dispatcher.
class EventDispatcher {
  public:
    using ConnectionStringSource = std::function<std::string()>;

    EventDispatcher(ConnectionStringSource source, Clock clock);

    // 1 when the code is one the plug-in answers (the record then holds the
    // answer), 0 for every other code (the record is left untouched).
    int handle(ClientEvent* event);

  private:
    void answer(EventRecord& record);

    void textAnswer(EventRecord& record, UserColumn column);
    void switchAnswer(EventRecord& record, UserColumn column);
    void limitAnswer(EventRecord& record, UserColumn column, long long noValue);
    void countAnswer(EventRecord& record, UserColumn column);
    void ratioTypeAnswer(EventRecord& record);
    void maintenanceAnswer(EventRecord& record);
    void passwordCheck(EventRecord& record);
    void passwordChange(EventRecord& record);
    void addressCheck(EventRecord& record);
    void addressListed(EventRecord& record);
    void signFile(EventRecord& record, bool signOn);
    void ratioCredit(EventRecord& record);
    void quota(EventRecord& record);

    std::mutex mutex_;
    ConnectionStringSource source_;
    int eventCount_ = 0;
    AccountStore store_;
    AccessChecks checks_;
};

}  // namespace kestrix::plugin
