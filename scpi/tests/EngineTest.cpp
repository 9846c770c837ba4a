// The engine through one or two clients on a fake instrument: replies, errors,
// status, waits.
#include <gtest/gtest.h>

#include "FakeInstrument.h"

namespace zrq::scpi::test {
namespace {

struct Fixture {
  FakeInstrument inst;
  Engine engine{inst};
  Client client{engine};
  Fixture() { engine.tick(0); }
  std::string operator()(const std::string& line) { return ask(client, line); }
  int nextError() {
    const std::string e = ask(client, "SYST:ERR?");
    return std::stoi(e);
  }
};

// Each case: lines fed to a fresh engine (with one Average reading of 2 W
// when reading is set), and everything answered.
TEST(ScpiEngine, Replies) {
  struct Case {
    const char* in;
    const char* want;
    bool reading = false;
  } cases[] = {
      {"*IDN?", "ZRQ,TKS7730,123456,1.07\n"},
      {"*idn?;*TST?\r", "ZRQ,TKS7730,123456,1.07;0\n"},
      {"SYST:ERR?", "0,\"No error\"\n"},
      {"syst:err:next?;:SYSTEM:ERROR:COUNT?", "0,\"No error\";0\n"},
      {"SYST:VERS?", "1999.0\n"},
      {"CORR:OFFS 3.5;OFFS?", "3.500000E+00\n"},
      {"SENS:CORR:OFFS:MAGN 2 DB;MAGN?", "2.000000E+00\n"},
      {"CORR:OFFS 2;*TST?;OFFS?", "0;2.000000E+00\n"},  // *XXX keeps the path
      {"SENSE1:CORR:OFFS MAX;:CORR:OFFS?", "1.000000E+02\n"},
      {"CORR:OFFS 7;OFFS DEF;OFFS?;OFFS? MAX", "0.000000E+00;1.000000E+02\n"},
      {"CORR:OFFS 7;OFFS:STAT OFF;STAT?;:CORR:OFFS?;OFFS:STAT ON;STAT?", "0;7.000000E+00;1\n"},
      {"CORR:OFFS:STAT OFF;:CORR:OFFS 4;:SYST:ERR?", "0,\"No error\"\n"},
      {"UNIT:POW DBM;POW?", "DBM\n"},
      {"unit:power w;power?", "W\n"},
      {"CCDF:LIM 100;LIM?", "1.000000E+02\n"},
      {"CCDF:LIM 30 DBM;LIM?", "5.000000E+01\n"},  // -222: 1 W is below 2 W
      {"CCDF:LIM 100000 MW;LIM?", "1.000000E+02\n"},
      {"CCDF:LIM MIN;LIM?;LIM? MAX", "2.000000E+00;4.000000E+02\n"},
      {"BAND:VID 400 KHZ;VID?", "4.000000E+05\n"},
      {"BAND:VID 1MHZ;VID?", "9.900000E+37\n"},
      {"BAND:VID FULL;VID?", "9.900000E+37\n"},
      {"BAND:VID FULL;VID 4.5 khz;VID?", "4.500000E+03\n"},
      {"FUNC 'POW:PEAK';FUNC?", "\"POW:PEAK\"\n"},
      {"FUNC \"power:crest\";FUNC?", "\"POW:CRES\"\n"},
      {"CONF:CCDF;:CONF?", "\"POW:CCDF\"\n"},
      {"CONF:SCAL:POW:BURS;:FUNC?", "\"POW:BURS\"\n"},
      {"INIT:CONT?;CONT OFF;CONT?;:INIT;:SYST:ERR?", "1;0;0,\"No error\"\n"},
      {"CAL:ZERO:AUTO?", "0\n"},
      {"FETC?", "2.000000E+00\n", true},
      {"UNIT:POW DBM;:FETC?", "3.301030E+01\n", true},
      {"FETC:POW:AVER?;:FETC:REFL?;REFL:RHO?;VSWR?;RLOS?",
       "2.000000E+00;1.000000E-02;1.000000E-01;1.200000E+00;2.000000E+01\n", true},
      {"FETC:ALL?",
       "2026-01-01T00:00:00+00:00,AVG,2.000000E+00,,,,,1.000000E-02,1.000000E-01,"
       "1.200000E+00,2.000000E+01,2.500000E+01\n",
       true},
      {"*RST;:FUNC?;:UNIT:POW?;:CCDF:LIM?;:BAND:VID?;:INIT:CONT?",
       "\"POW:AVG\";W;5.000000E+01;4.500000E+03;1\n"},
      {"*ESE 36;*ESE?;*SRE 255;*SRE?", "36;191\n"},
      {"*OPC;*ESR?;*ESR?", "1;0\n"},
      {"*OPC?;*WAI", "1\n"},
      {"\n\n*TST?\n", "0\n"},
  };
  for (const auto& c : cases) {
    Fixture f;
    if (c.reading) f.inst.push(f.engine, 2);
    EXPECT_EQ(f(c.in), c.want) << c.in;
  }
}

TEST(ScpiEngine, HelpIsADefiniteBlock) {
  Fixture f;
  const std::string r = f("SYST:HELP:HEAD?");
  ASSERT_EQ(r.substr(0, 1), "#");
  const std::size_t digits = std::size_t(r[1] - '0');
  const std::size_t len = std::stoul(r.substr(2, digits));
  EXPECT_EQ(r.size(), 2 + digits + len + 1);
  EXPECT_NE(r.find("\n[SENSe:]CORRection:OFFSet[:MAGNitude]\n"), std::string::npos);
  EXPECT_NE(r.find("\nFETCh:ALL?\n"), std::string::npos);
}

// Each case: one line, and the first error it queues.
TEST(ScpiEngine, Errors) {
  struct Case {
    std::string in;
    int code;
    bool stream = true;
  } cases[] = {
      {std::string("*IDN?\0", 6), -101},
      {"CORR::OFFS 1", -102},
      {"CORR:OFFS,1", -103},
      {"CORR:OFFS 'x'", -104},
      {"*IDN? 1", -108},
      {"CORR:OFFS 1,2", -108},
      {"CORR:OFFS", -109},
      {"FOO:BAR", -113},
      {"*FOO", -113},
      {"*IDN", -113},
      {"UNIT:POW W;CORR:OFFS 1", -113},  // path rule: UNIT:CORR:OFFS
      {"UNIT:POW W\nPOW DBM", -113},     // the path resets at each line
      {"SENS2:CORR:OFFS 1", -114},
      {"CORR:OFFS 1e", -131},
      {"CORR:OFFS 1 W", -131},
      {"*ESE 1 V", -138},
      {"CORR:OFFS:STAT 1 DB", -138},
      {"CORR:OFFS 1.2.3", -120},
      {"UNIT:POW KW", -141},
      {"CORR:OFFS:STAT MAYBE", -141},
      {"UNIT:POW 'W'", -104},
      {"UNIT:POW 1", -104},
      {"*ESE ON", -104},
      {"FUNC 'POW", -150},
      {"INIT", -213},
      {"CALC:LIM:LOW 2;UPP 1;STAT ON", -221},
      {"CORR:OFFS 101", -222},
      {"CORR:OFFS -1", -222},
      {"CCDF:LIM 1", -222},
      {"CCDF:LIM 401 W", -222},
      {"BAND:VID 0", -222},
      {"*ESE 256", -222},
      {"STAT:OPER:ENAB 65536", -222},
      {"CALC:LIM:UPP 1 MAW", -222},
      {"FUNC 'POW:FOO'", -224},
      {"FETC?", -230},
      {"READ?", -241, false},
      {"MEAS:POW:PEAK?", -241, false},
      {"CAL:ZERO:AUTO ONCE", -241, false},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.inst.stream = c.stream;
    const Settings before = f.inst.s;
    EXPECT_EQ(f(c.in), "") << c.in;
    EXPECT_EQ(f.nextError(), c.code) << c.in;
    if (c.code == -222) {
      EXPECT_EQ(f.inst.s, before) << c.in;
    }
  }
}

TEST(ScpiEngine, ErrorTextsAndEsrBits) {
  struct Case {
    const char* in;
    const char* error;
    int esr;
  } cases[] = {
      {"FOO", "-113,\"Undefined header\"", 32},
      {"CORR:OFFS 200", "-222,\"Data out of range;offset 0 to 100 dB\"", 16},
      {"FUNC 'P\"'", "-224,\"Illegal parameter value;function \"\"P\"\"\"\"\"", 16},
  };
  for (const auto& c : cases) {
    Fixture f;
    f(c.in);
    EXPECT_EQ(f("*ESR?;:SYST:ERR?"), std::to_string(c.esr) + ";" + c.error + "\n") << c.in;
  }
}

TEST(ScpiEngine, QueueOverflowKeepsTheOldest) {
  Fixture f;
  for (int i = 0; i < 20; ++i) f(i == 0 ? "CORR:OFFS 500" : "FOO");
  EXPECT_EQ(f("SYST:ERR:COUN?"), "16\n");
  EXPECT_EQ(f.nextError(), -222);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(f.nextError(), -113);
  EXPECT_EQ(f("SYST:ERR?"), "-350,\"Queue overflow\"\n");
  EXPECT_EQ(f("SYST:ERR?"), "0,\"No error\"\n");
}

TEST(ScpiEngine, StatusByte) {
  Fixture f;
  EXPECT_EQ(f("*STB?"), "0\n");
  f("FOO");
  EXPECT_EQ(f("*STB?"), "4\n");  // EAV
  f("*ESE 32");
  EXPECT_EQ(f("*STB?"), "36\n");  // ESB: CME
  f("*SRE 32");
  EXPECT_EQ(f("*STB?"), "100\n");                                // MSS
  EXPECT_EQ(f("*IDN?;*STB?"), "ZRQ,TKS7730,123456,1.07;116\n");  // MAV
  f("*CLS");
  EXPECT_EQ(f("*STB?;*ESR?"), "0;0\n");
  // OPER: measuring since the first refresh, calibrating while a zero runs.
  EXPECT_EQ(f("STAT:OPER:COND?;EVEN?;EVEN?"), "16;0;0\n");  // *CLS cleared the event
  f("STAT:OPER:ENAB 1");
  EXPECT_EQ(f("CAL:ZERO:AUTO ONCE;:STAT:OPER:COND?;*STB?"), "17;144\n");  // MAV too
  f.inst.calRunning = false;
  f.engine.zeroCalibrationEnded(false, "no zero signal");
  EXPECT_EQ(f("STAT:QUES:COND?;:STAT:OPER?;:SYST:ERR?"),
            "256;1;-240,\"Hardware error;no zero signal\"\n");
  f("STAT:QUES:ENAB 256");
  EXPECT_EQ(f("*STB?;:STAT:QUES?;:STAT:QUES:ENAB?"), "8;256;256\n");
  f("STAT:PRES");
  EXPECT_EQ(f("STAT:QUES:ENAB?;:STAT:OPER:ENAB?"), "0;0\n");
}

TEST(ScpiEngine, Limits) {
  Fixture f;
  f("CALC:LIM:UPP 3 W;LOW 1000 MW;STAT ON");
  EXPECT_EQ(f("CALC:LIM:UPP?;LOW?;STAT?;FAIL?"), "3.000000E+00;1.000000E+00;1;0\n");
  f.inst.push(f.engine, 2);
  EXPECT_EQ(f("CALC:LIM:FAIL?"), "0\n");
  f.inst.push(f.engine, 4);
  f.inst.push(f.engine, 2);
  EXPECT_EQ(f("CALC1:LIM1:FAIL?;:STAT:QUES:COND?"), "1;8\n");  // latched
  EXPECT_EQ(f("CALC:LIM:CLE;FAIL?;:STAT:QUES:COND?;:STAT:QUES?"), "0;0;8\n");
  f("*RST");
  f.inst.push(f.engine, 4000);
  EXPECT_EQ(f("CALC:LIM:FAIL?;STAT?"), "0;0\n");
}

TEST(ScpiEngine, TheFirstNodesSuffixPicksTheSensor) {
  FakeInstrument a, b;
  a.name = "tx1";
  b.name = "tx2";
  b.channel = 1;
  Engine engine({&a, &b});
  Client c{engine};
  engine.tick(0);
  a.push(engine, 2);
  b.push(engine, 7);
  EXPECT_EQ(ask(c, "FETC?;:FETC1?;:FETC2?"), "2.000000E+00;2.000000E+00;7.000000E+00\n");
  ask(c, "SENS2:CORR:OFFS 5;:UNIT2:POW DBM;:CALC2:LIM:UPP 5;STAT ON");
  EXPECT_EQ(a.s.offsetDb, 0);
  EXPECT_EQ(b.s.offsetDb, 5);
  EXPECT_EQ(a.s.unit, PowerUnit::Watt);
  EXPECT_EQ(b.s.unit, PowerUnit::Dbm);
  b.push(engine, 8);
  EXPECT_EQ(ask(c, "CALC1:LIM:FAIL?;:CALC2:LIM:FAIL?"), "0;1\n");
  EXPECT_EQ(ask(c, "READ2?"), "");
  a.push(engine, 3);  // another sensor's reading ends no wait
  EXPECT_TRUE(c.waiting());
  b.push(engine, 1);
  EXPECT_EQ(c.output(), "3.000000E+01\n");
  c.output().clear();
  EXPECT_EQ(ask(c, "SYST:CHAN:COUN?;LIST?"), "2;\"1,tx1,123456\",\"2,tx2,123456\"\n");
  EXPECT_EQ(ask(c, "FETC3?;:SYST:ERR?"), "-114,\"Header suffix out of range\"\n");
}

TEST(ScpiEngine, ZeroCalibration) {
  Fixture f;
  f.inst.refuseCal = true;
  f("CAL:ZERO:AUTO ONCE");
  EXPECT_EQ(f("SYST:ERR?"), "-200,\"Execution error;already running\"\n");
  f.inst.refuseCal = false;
  EXPECT_EQ(f("CAL:ZERO:AUTO ONCE;*OPC?;*IDN?"), "");
  EXPECT_TRUE(f.client.waiting());
  EXPECT_EQ(f("*TST?"), "");  // queued behind the wait
  f.inst.calRunning = false;
  f.engine.zeroCalibrationEnded(true, "");
  EXPECT_EQ(f.client.output(), "1;ZRQ,TKS7730,123456,1.07\n0\n");
  f.client.output().clear();
  // *OPC sets the ESR bit at the end; *WAI holds the input, past the
  // readings' time-out, for as long as a calibration may take.
  f("*CLS;:CAL:ZERO:AUTO ONCE;*OPC");
  EXPECT_EQ(f("*WAI;*ESR?"), "");
  f.engine.tick(Engine::kOperationTimeoutMs - 1);
  EXPECT_EQ(f.client.output(), "");
  f.engine.tick(Engine::kOperationTimeoutMs);
  EXPECT_EQ(f.client.output(), "16\n");  // EXE of the timeout; OPC not yet
  f.client.output().clear();
  f.inst.calRunning = false;
  f.engine.tick(Engine::kOperationTimeoutMs + 1);
  EXPECT_EQ(f("*ESR?;:SYST:ERR?"),
            "1;-200,\"Execution error;timed out waiting for the operation to complete\"\n");
}

TEST(ScpiEngine, ReadWaitsForTheNextReading) {
  Fixture f;
  f.inst.push(f.engine, 1);
  EXPECT_EQ(f("READ?;*IDN?"), "");
  EXPECT_EQ(f("*TST?"), "");
  f.inst.push(f.engine, 5);
  EXPECT_EQ(f.client.output(), "5.000000E+00;ZRQ,TKS7730,123456,1.07\n0\n");
  f.client.output().clear();
  // MEASure of another function applies it and waits for a reading of it.
  EXPECT_EQ(f("MEAS:POW:PEAK?"), "");
  EXPECT_EQ(f.inst.s.function, Function::Peak);
  f.inst.push(f.engine, 1, Function::Average);  // still the old type
  EXPECT_EQ(f.client.output(), "");
  f.inst.push(f.engine, 1, Function::Peak);
  EXPECT_EQ(f.client.output(), "2.000000E+00\n");
  f.client.output().clear();
  EXPECT_EQ(f("READ:REFL:VSWR?"), "");
  f.inst.push(f.engine, 1);
  EXPECT_EQ(f.client.output(), "1.200000E+00\n");
}

TEST(ScpiEngine, ReadTimesOut) {
  Fixture f;
  f.engine.setWaitTimeoutMs(1000);
  f("READ?;*TST?");
  f.client.feed("\n\n*TST?\n");
  EXPECT_GT(f.client.queuedInput(), 3u);
  f.engine.tick(999);
  EXPECT_TRUE(f.client.waiting());
  f.engine.tick(1000);
  EXPECT_FALSE(f.client.waiting());
  EXPECT_EQ(f.client.output(), "0\n0\n");
  EXPECT_EQ(f.client.queuedInput(), 0u);
  f.client.output().clear();
  EXPECT_EQ(f("SYST:ERR?"), "-230,\"Data corrupt or stale;timed out waiting for a reading\"\n");
}

TEST(ScpiEngine, ClientsAreSeparate) {
  FakeInstrument inst;
  Engine engine(inst);
  Client a(engine), b(engine);
  ask(a, "FOO");
  ask(a, "READ?");
  EXPECT_EQ(ask(b, "SYST:ERR?;*IDN?"), "0,\"No error\";ZRQ,TKS7730,123456,1.07\n");
  EXPECT_EQ(ask(b, "CORR:OFFS 5"), "");
  inst.push(engine, 3);
  EXPECT_EQ(a.output(), "3.000000E+00\n");
  a.output().clear();
  EXPECT_EQ(ask(a, "SYST:ERR?;:CORR:OFFS?"), "-113,\"Undefined header\";5.000000E+00\n");
}

TEST(ScpiEngine, LongLinesAreRefusedAndResynchronised) {
  Fixture f;
  f.client.feed(std::string(40000, 'A'));
  f.client.feed(std::string(40000, 'A'));
  EXPECT_LT(f.client.queuedInput(), 100u);
  f.client.feed(std::string(40000, 'A') + ";*IDN?\n*TST?\n");
  EXPECT_EQ(f.client.output(), "0\n");
  f.client.output().clear();
  EXPECT_EQ(f("SYST:ERR?;ERR?"),
            "-223,\"Too much data;line longer than 65536 bytes\";0,\"No error\"\n");
  f.client.feed(std::string(Client::kMaxLine, ' ') + "\n*TST?\n");  // exactly the limit
  EXPECT_EQ(f.client.output(), "0\n");
}

TEST(ScpiEngine, BinaryJunkGivesErrors) {
  Fixture f;
  std::string junk;
  for (int i = 0; i < 4096; ++i) junk += char((i * 131 + 7) & 0xff);
  f.client.feed(junk + "\n");
  f.client.output().clear();
  EXPECT_GT(f.client.errorCount(), 0u);
  f("*CLS");
  EXPECT_EQ(f("*TST?"), "0\n");
}

}  // namespace
}  // namespace zrq::scpi::test
