// .meas [tran] lines (one that cannot be read is skipped with a warning):
//   NAME TRIG sig VAL=v [RISE|FALL|CROSS=n|LAST] [TD=t] | TRIG AT=t,  TARG sig VAL=v ...
//   NAME AVG|MAX|MIN|PP|RMS|INTEG sig [FROM=t] [TO=t] | [TRIG time=t1 TARG time=t2]
//   NAME FIND sig WHEN sig=v [RISE|FALL|CROSS=n] [TD=t]  |  NAME FIND sig AT=t
//   NAME WHEN sig=v [RISE|FALL|CROSS=n] [TD=t]
#include "netlist/netlist_context.h"

namespace udmhost::netlist {

namespace {

bool nextIs(const LineCursor& cursor, const char* word) {
    return !cursor.atEnd() && cursor.peek().kind == Token::Kind::Word && lowerCase(cursor.peek().text) == word;
}

double keyValue(Context& context, LineCursor& cursor, const Token& key) {
    if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + key.text);
    return context.value(cursor, "a value for " + key.text);
}

// The options after a condition's signal and value.
void readEdge(Context& context, LineCursor& cursor, Measurement::Condition& condition) {
    while (!cursor.atEnd() && cursor.peek().kind == Token::Kind::Word) {
        const std::string key = lowerCase(cursor.peek().text);
        if (key != "rise" && key != "fall" && key != "cross" && key != "td") return;
        const Token& token = cursor.take();
        if (key == "td") {
            condition.delay = keyValue(context, cursor, token);
            continue;
        }
        condition.edge = key == "rise" ? Measurement::Condition::Edge::Rise
                         : key == "fall" ? Measurement::Condition::Edge::Fall
                                         : Measurement::Condition::Edge::Cross;
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=' after " + token.text);
        if (nextIs(cursor, "last")) {
            cursor.take();
            condition.count = -1;
            continue;
        }
        const SourceLocation where = cursor.here();
        const double count = context.value(cursor, "a count or LAST");
        if (!(count >= 1.0 && count <= 1e6) || count != static_cast<double>(static_cast<int>(count)))
            throw NetlistError(where, "the count must be a whole number from 1, or LAST");
        condition.count = static_cast<int>(count);
    }
}

// An instant given as time=t or AT=t.
double windowInstant(Context& context, LineCursor& cursor) {
    if (!nextIs(cursor, "time") && !nextIs(cursor, "at")) cursor.expected("time=t or AT=t");
    const Token& key = cursor.take();
    return keyValue(context, cursor, key);
}

void readTranMeasurement(Context& context, LineCursor& cursor, const LogicalLine& line) {
    Measurement m;
    m.where = line.where;
    m.name = cursor.word("a measurement name").text;
    const Token& kindToken = cursor.word("TRIG, AVG, MAX, MIN, PP, RMS, INTEG, FIND or WHEN");
    const std::string kind = lowerCase(kindToken.text);
    auto condition = [&](Measurement::Condition& into) {
        if (nextIs(cursor, "at")) {
            const Token& at = cursor.take();
            into.delay = keyValue(context, cursor, at);
            into.count = 0;  // the instant itself
            return;
        }
        into.signal = readPrintItem(context, cursor);
        if (!nextIs(cursor, "val")) cursor.expected("VAL=value");
        const Token& val = cursor.take();
        into.value = keyValue(context, cursor, val);
        readEdge(context, cursor, into);
    };
    auto when = [&](Measurement::Condition& into) {
        into.signal = readPrintItem(context, cursor);
        if (!cursor.takeIf(Token::Kind::Equals)) cursor.expected("'=value' after the signal");
        into.value = context.value(cursor, "the value to reach");
        readEdge(context, cursor, into);
    };
    if (kind == "param") {
        // An expression of other measurements: the run goes on without it.
        context.warn(kindToken.where, ".meas " + m.name + " PARAM=...: measurements of other measurements are not "
                                      "computed; skipped");
        return;
    }
    if (kind == "trig") {
        m.kind = Measurement::Kind::TrigTarg;
        condition(m.trig);
        if (!nextIs(cursor, "targ")) cursor.expected("TARG");
        cursor.take();
        condition(m.targ);
    } else if (kind == "avg" || kind == "max" || kind == "min" || kind == "pp" || kind == "rms" || kind == "integ") {
        m.kind = kind == "avg" ? Measurement::Kind::Avg
                 : kind == "max" ? Measurement::Kind::Max
                 : kind == "min" ? Measurement::Kind::Min
                 : kind == "pp"  ? Measurement::Kind::PeakToPeak
                 : kind == "rms" ? Measurement::Kind::Rms
                                 : Measurement::Kind::Integral;
        m.signal = readPrintItem(context, cursor);
        while (nextIs(cursor, "from") || nextIs(cursor, "to")) {
            const Token& key = cursor.take();
            (lowerCase(key.text) == "from" ? m.from : m.to) = keyValue(context, cursor, key);
        }
        // The window as instants: TRIG time=t1 TARG time=t2 (or AT=).
        if (nextIs(cursor, "trig")) {
            cursor.take();
            m.from = windowInstant(context, cursor);
            if (!nextIs(cursor, "targ")) cursor.expected("TARG");
            cursor.take();
            m.to = windowInstant(context, cursor);
        }
        if (m.to >= 0.0 && m.to <= m.from) throw NetlistError(kindToken.where, "TO must lie after FROM");
    } else if (kind == "find") {
        m.signal = readPrintItem(context, cursor);
        if (nextIs(cursor, "at")) {
            const Token& at = cursor.take();
            m.kind = Measurement::Kind::FindAt;
            m.at = keyValue(context, cursor, at);
        } else {
            if (!nextIs(cursor, "when")) cursor.expected("WHEN or AT=");
            cursor.take();
            m.kind = Measurement::Kind::FindWhen;
            when(m.trig);
        }
    } else if (kind == "when") {
        m.kind = Measurement::Kind::When;
        when(m.trig);
    } else {
        throw NetlistError(kindToken.where, "unknown measurement " + kindToken.text +
                                                ": expected TRIG, AVG, MAX, MIN, PP, RMS, INTEG, FIND or WHEN");
    }
    if (!cursor.atEnd()) cursor.expected("the end of the line");
    context.circuit.measurements.push_back(std::move(m));
}

}  // namespace

void readMeasurement(Context& context, const LogicalLine& line) {
    LineCursor cursor(line);
    cursor.take();
    const Token& first = cursor.peek();
    const std::string of = first.kind == Token::Kind::Word ? lowerCase(first.text) : "";
    if (isSkippedAnalysis(of)) {
        // Of an analysis udmhost skips, as it skips the analysis itself.
        context.warnOnce(".meas " + of, first.where, ".meas " + of + " skipped: udmhost runs the transient analysis only");
        return;
    }
    // Without an analysis the name comes first: the run's, the transient.
    if (of == "tran") cursor.take();
    // A measurement only reads the run's rows: one that cannot be read
    // leaves the run as it is, as ngspice leaves it.
    try {
        readTranMeasurement(context, cursor, line);
    } catch (const NetlistError& error) {
        context.warn(error.where(), error.detail() + "; .meas skipped");
    }
}

}  // namespace udmhost::netlist
