// Where the service object meets its diagnostic trace: calls with their
// result codes, events with their arguments, and swipes as summaries. No
// text that may hold card data is written, only its length.
#include <cstdio>

#include "framework/ServiceObjectImpl.h"
#include "trace/TraceMasking.h"

namespace norvik {

void ServiceObjectCore::Impl::TraceCall(const char* method, const int32_t* pRC, const char* format, ...) {
    if (!trace.On(TraceLevel::Errors)) return;
    int32_t resultCode;
    int32_t resultCodeExtended;
    {
        std::lock_guard<std::mutex> lock(Process().mutex);
        resultCode = props.ResultCode;
        resultCodeExtended = props.ResultCodeExtended;
    }
    // Calls that report a result code are errors when it is not success.
    const TraceLevel level = pRC && *pRC != OPOS_SUCCESS ? TraceLevel::Errors : TraceLevel::Calls;
    if (!trace.On(level)) return;
    char arguments[Trace::kLineCapacity];
    va_list list;
    va_start(list, format);
    std::vsnprintf(arguments, sizeof arguments, format, list);
    va_end(list);
    if (pRC) {
        trace.Write(level, "call %s(%s) rc=%d ResultCode=%d ResultCodeExtended=%d", method, arguments, *pRC,
                    resultCode, resultCodeExtended);
    } else {
        trace.Write(level, "call %s(%s) ResultCode=%d ResultCodeExtended=%d", method, arguments, resultCode,
                    resultCodeExtended);
    }
}

void ServiceObjectCore::Impl::TraceEvent(const char* name, const EventArgument* arguments, int count, bool frozen) {
    Impl* instance = Process().current;
    if (instance == nullptr) return;
    const bool error = name[2] == 'E';  // "SOError"
    const TraceLevel level = error ? TraceLevel::Errors : TraceLevel::Calls;
    if (!instance->trace.On(level)) return;
    char text[Trace::kLineCapacity] = {};
    size_t used = 0;
    for (int i = 0; i < count && used < sizeof text; ++i) {
        const char* separator = i == 0 ? "" : ", ";
        int n = 0;
        switch (arguments[i].type) {
            case EventArgument::Type::Long:
                n = std::snprintf(text + used, sizeof text - used, "%s%d", separator, arguments[i].value);
                break;
            case EventArgument::Type::LongRef:
                n = std::snprintf(text + used, sizeof text - used, "%s&%d", separator,
                                  arguments[i].longRef ? *arguments[i].longRef : 0);
                break;
            case EventArgument::Type::StringRef:
                n = std::snprintf(text + used, sizeof text - used, "%s&%u chars", separator,
                                  static_cast<unsigned>(arguments[i].stringRef ? arguments[i].stringRef->size() : 0));
                break;
        }
        used += n > 0 ? static_cast<size_t>(n) : 0;
    }
    instance->trace.Write(level, "event %s(%s)%s", name, text, frozen ? " frozen" : "");
}

void ServiceObjectCore::Impl::TraceCardRecord(const VorlexCardData& record, int32_t fetchResult) {
    if (!trace.On(TraceLevel::Details)) return;
    char summary[Trace::kLineCapacity];
    SummarizeCardRecord(record, fetchResult, summary, sizeof summary);
    trace.Write(TraceLevel::Details, "%s", summary);
}

}  // namespace norvik
