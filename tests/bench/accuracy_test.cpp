// The press-accuracy benchmark's own parts: the series it plans, how it
// scores what the programs did against the press rule and against what was
// meant, and its results file and table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>

#include "bench/accuracy/accuracy_table.h"
#include "bench/accuracy/series_plan.h"
#include "bench/accuracy/series_record.h"
#include "bench/accuracy/series_score.h"
#include "bench/accuracy/tuner_proof.h"

namespace {

using namespace accuracy;
using press_rule::PlayedPress;

const press_rule::Timing kDefaults{400, 400};

bool SameTimes(const std::vector<PlannedSeries>& a, const std::vector<PlannedSeries>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].population != b[i].population || a[i].gesture != b[i].gesture || a[i].index != b[i].index ||
        a[i].presses.size() != b[i].presses.size())
      return false;
    for (size_t k = 0; k < a[i].presses.size(); ++k)
      if (a[i].presses[k].down != b[i].presses[k].down || a[i].presses[k].up != b[i].presses[k].up) return false;
  }
  return true;
}

TEST(AccuracyPlan, ASeedNamesOneSetOfSeriesAndMoreSeriesExtendIt) {
  EXPECT_TRUE(SameTimes(Plan(4, 7), Plan(4, 7)));
  EXPECT_FALSE(SameTimes(Plan(4, 7), Plan(4, 8)));
  // A cell's first series stay what they were when more are asked for.
  for (int population = 0; population < kPopulationCount; ++population) {
    for (Gesture gesture : kGestures) {
      std::vector<PlannedSeries> longer = PlanCell(population, gesture, 9, 7);
      longer.resize(4);
      EXPECT_TRUE(SameTimes(PlanCell(population, gesture, 4, 7), longer)) << population << GestureName(gesture);
    }
  }
  // Every cell's streams differ: two cells never share their times.
  std::set<std::vector<uint64_t>> seen;
  for (int population = 0; population < kPopulationCount; ++population) {
    for (Gesture gesture : {Gesture::kSingle, Gesture::kHold}) {
      std::vector<uint64_t> ups;
      for (const PlannedSeries& series : PlanCell(population, gesture, 5, 7)) ups.push_back(series.presses[0].up);
      EXPECT_TRUE(seen.insert(ups).second);
    }
  }
}

TEST(AccuracyPlan, EveryGestureHasItsPressesAndEveryCellItsShareMixed) {
  const int n = 6;
  const std::vector<PlannedSeries> plan = Plan(n, 3);
  ASSERT_EQ(plan.size(), static_cast<size_t>(n * kPopulationCount * kGestureCount));
  std::map<std::pair<int, int>, std::set<int>> indexes;
  for (const PlannedSeries& series : plan) {
    indexes[{series.population, static_cast<int>(series.gesture)}].insert(series.index);
    const size_t expected = series.gesture == Gesture::kTriple ? 3
                            : (series.gesture == Gesture::kDouble || series.gesture == Gesture::kDoubleHold) ? 2
                                                                                                              : 1;
    ASSERT_EQ(series.presses.size(), expected) << GestureName(series.gesture);
    EXPECT_EQ(series.presses[0].down, 0u);
    for (size_t k = 0; k < series.presses.size(); ++k) {
      EXPECT_GE(series.presses[k].up, series.presses[k].down + static_cast<uint64_t>(kMinTimeMs));
      if (k > 0) {
        EXPECT_GE(series.presses[k].down, series.presses[k - 1].up + static_cast<uint64_t>(kMinTimeMs));
      }
    }
  }
  for (const auto& [cell, seen] : indexes) EXPECT_EQ(seen.size(), static_cast<size_t>(n));
  EXPECT_EQ(indexes.size(), static_cast<size_t>(kPopulationCount * kGestureCount));
  // Mixed: the first fifteen series are not one cell's.
  std::set<std::pair<int, int>> first;
  for (size_t i = 0; i < 15; ++i) first.insert({plan[i].population, static_cast<int>(plan[i].gesture)});
  EXPECT_GT(first.size(), 5u);
}

// The drawn times are the population's: log-normal around its medians with
// the stated spread, the held press of a gesture drawn as a hold.
TEST(AccuracyPlan, TimesAreLogNormalAroundThePopulationsMedians) {
  for (int population = 0; population < kPopulationCount; ++population) {
    const Population& people = kPopulations[population];
    std::vector<double> taps, gaps, holds;
    for (const PlannedSeries& series : PlanCell(population, Gesture::kDoubleHold, 1500, 11)) {
      taps.push_back(static_cast<double>(series.presses[0].up - series.presses[0].down));
      gaps.push_back(static_cast<double>(series.presses[1].down - series.presses[0].up));
      holds.push_back(static_cast<double>(series.presses[1].up - series.presses[1].down));
    }
    const std::pair<std::vector<double>*, double> drawn[] = {
        {&taps, people.tap_ms}, {&gaps, people.gap_ms}, {&holds, people.hold_ms}};
    for (const auto& [values, median] : drawn) {
      EXPECT_NEAR(Percentile(*values, 0.5), median, median * 0.05) << people.name;
      double sum = 0, squares = 0;
      for (double v : *values) {
        sum += std::log(v);
        squares += std::log(v) * std::log(v);
      }
      const double mean = sum / static_cast<double>(values->size());
      const double spread = std::sqrt(squares / static_cast<double>(values->size()) - mean * mean);
      EXPECT_NEAR(spread, kSpread, 0.03) << people.name;
      EXPECT_LE(*std::max_element(values->begin(), values->end()), kMaxFactor * median + 0.5);
    }
  }
}

Observed Seen(std::vector<PlayedPress> presses, std::vector<Dispatch> dispatches) {
  Observed observed;
  observed.presses = std::move(presses);
  observed.dispatches = std::move(dispatches);
  return observed;
}

constexpr Slot kSingle{1, false}, kHold{1, true}, kDouble{2, false}, kDoubleHold{2, true};

TEST(AccuracyScore, EachSeriesIsScoredAgainstTheRuleAndAgainstTheMeaning) {
  // A quick double press: the rule reads a double press, due 400 ms after
  // the second key down (every slot is assigned), and that is what was meant.
  {
    const SeriesScore score = ScoreSeries(Gesture::kDouble, Seen({{0, 90}, {220, 300}}, {{kDouble, 623}}), kDefaults);
    EXPECT_TRUE(score.agrees_with_rule);
    EXPECT_TRUE(score.agrees_with_meaning);
    EXPECT_TRUE(score.rule_as_meant);
    EXPECT_EQ(score.delays, std::vector<int64_t>{3});
  }
  // A slow double press: the second key down comes after the first press's
  // window, so the rule reads two single presses. The programs did the same:
  // right by the rule, not what was meant.
  {
    const SeriesScore score =
        ScoreSeries(Gesture::kDouble, Seen({{0, 170}, {420, 600}}, {{kSingle, 401}, {kSingle, 825}}), kDefaults);
    EXPECT_TRUE(score.agrees_with_rule);
    EXPECT_FALSE(score.agrees_with_meaning);
    EXPECT_FALSE(score.rule_as_meant);
    EXPECT_EQ(score.delays, (std::vector<int64_t>{1, 5}));
  }
  // The programs read it as meant where the rule did not: wrong by the rule,
  // and no delays are counted for it.
  {
    const SeriesScore score = ScoreSeries(Gesture::kDouble, Seen({{0, 170}, {420, 600}}, {{kDouble, 823}}), kDefaults);
    EXPECT_FALSE(score.agrees_with_rule);
    EXPECT_TRUE(score.agrees_with_meaning);
    EXPECT_TRUE(score.delays.empty());
  }
  // A hold let go after the hold test, and a triple press: dispatched when
  // the rule says (the hold at its test, the triple at its third key down).
  EXPECT_EQ(ScoreSeries(Gesture::kHold, Seen({{0, 550}}, {{kHold, 402}}), kDefaults).delays,
            std::vector<int64_t>{2});
  {
    const SeriesScore triple = ScoreSeries(
        Gesture::kTriple, Seen({{0, 80}, {200, 280}, {400, 470}}, {{kDoubleHold, 430}}), kDefaults);
    EXPECT_TRUE(triple.agrees_with_rule && triple.agrees_with_meaning);
    EXPECT_EQ(triple.delays, std::vector<int64_t>{30});
  }
  // A hold let go at the test is a single press by the rule; nothing at all
  // dispatched agrees with neither, and a second dispatch is one too many.
  EXPECT_EQ(ScoreSeries(Gesture::kHold, Seen({{0, 400}}, {}), kDefaults).rule, std::vector<Slot>{kSingle});
  EXPECT_FALSE(ScoreSeries(Gesture::kHold, Seen({{0, 500}}, {}), kDefaults).agrees_with_rule);
  EXPECT_FALSE(ScoreSeries(Gesture::kHold, Seen({{0, 500}}, {{kHold, 400}, {kHold, 401}}), kDefaults).agrees_with_rule);
  // Other intervals move the rule's moments.
  EXPECT_EQ(ScoreSeries(Gesture::kSingle, Seen({{0, 80}}, {{kSingle, 703}}), press_rule::Timing{300, 700}).delays,
            std::vector<int64_t>{3});
  // Keys that went unseen leave nothing to agree with.
  Observed unseen = Seen({{0, 80}}, {{kSingle, 401}});
  unseen.complete = false;
  const SeriesScore blind = ScoreSeries(Gesture::kSingle, unseen, kDefaults);
  EXPECT_FALSE(blind.agrees_with_rule || blind.agrees_with_meaning || blind.rule_as_meant);
}

TEST(AccuracyScore, TalliesCountAgreementDelaysAndTheMostFrequentConfusions) {
  Tally tally;
  const auto add = [&](Gesture gesture, Observed observed, bool as_planned = true) {
    tally.Add(gesture, ScoreSeries(gesture, observed, kDefaults), observed.complete, as_planned);
  };
  add(Gesture::kDouble, Seen({{0, 90}, {220, 300}}, {{kDouble, 623}}));
  add(Gesture::kDouble, Seen({{0, 170}, {420, 600}}, {{kSingle, 401}, {kSingle, 825}}));
  add(Gesture::kDouble, Seen({{0, 170}, {430, 600}}, {{kSingle, 402}, {kSingle, 831}}));
  add(Gesture::kDouble, Seen({{0, 90}, {220, 300}}, {}));
  add(Gesture::kHold, Seen({{0, 600}}, {{kHold, 404}}), false);
  Observed unseen = Seen({{0, 80}}, {});
  unseen.complete = false;
  add(Gesture::kSingle, unseen);
  EXPECT_EQ(tally.series, 6);
  EXPECT_EQ(tally.with_rule, 4);
  EXPECT_EQ(tally.as_meant, 2);
  EXPECT_EQ(tally.rule_as_meant, 3);  // the quick doubles and the hold
  EXPECT_EQ(tally.incomplete, 1);
  EXPECT_EQ(tally.press_count_off, 1);
  EXPECT_EQ(tally.delays, (std::vector<double>{3, 1, 5, 2, 1, 4}));
  EXPECT_EQ(Tally::Main(tally.meaning_confusions, 2), "2x double -> single+single, 1x double -> nothing");
  EXPECT_EQ(Tally::Main(tally.rule_confusions, 5), "1x double -> nothing, 1x unseen keys -> nothing");
  Tally sum;
  sum.Add(tally);
  sum.Add(tally);
  EXPECT_EQ(sum.series, 12);
  EXPECT_EQ(sum.delays.size(), 12u);
  EXPECT_EQ(sum.meaning_confusions["double -> single+single"], 4);
}

TEST(AccuracyRecord, ASeriesLineReadsBackAsWrittenAndABadOneSaysWhy) {
  SeriesRecord record;
  record.path = "wine";
  record.condition = "load";
  record.planned = PlanCell(2, Gesture::kTriple, 3, 5)[2];
  record.observed = Seen({{0, 171}, {402, 590}, {850, 1012}}, {{kSingle, 401}, {kDoubleHold, 1250}});
  record.observed.complete = false;
  const std::string line = FormatSeries(record);
  SeriesRecord back;
  RunRecord run;
  std::string error;
  ASSERT_EQ(ParseLine(line, &back, &run, &error), LineKind::kSeries) << error;
  EXPECT_EQ(FormatSeries(back), line);
  EXPECT_EQ(back.planned.population, 2);
  EXPECT_EQ(back.planned.gesture, Gesture::kTriple);
  EXPECT_EQ(back.planned.index, 2);
  EXPECT_EQ(back.observed.dispatches, record.observed.dispatches);
  EXPECT_FALSE(back.observed.complete);

  const RunRecord start{"host", "idle", {{"phase", "start"}, {"loadavg", "1.0,2.0,3.0"}}};
  ASSERT_EQ(ParseLine(FormatRun(start), &back, &run, &error), LineKind::kRun);
  EXPECT_EQ(run.values, start.values);
  EXPECT_EQ(ParseLine("# a note", &back, &run, &error), LineKind::kNone);
  EXPECT_EQ(ParseLine("", &back, &run, &error), LineKind::kNone);

  const auto bad = [&](const std::string& from, const std::string& to) {
    std::string changed = line;
    changed.replace(changed.find(from), from.size(), to);
    return ParseLine(changed, &back, &run, &error) == LineKind::kBad;
  };
  EXPECT_TRUE(bad("slow", "sleepy"));
  EXPECT_TRUE(bad("triple", "quadruple"));
  EXPECT_TRUE(bad("played=0-171,402-590", "played=0-171,150-590"));  // overlapping presses
  EXPECT_TRUE(bad("played=0-171", "played=171-0"));
  EXPECT_TRUE(bad("single@401", "quadruple@401"));
  EXPECT_TRUE(bad("single@401", "single@soon"));
  EXPECT_TRUE(bad("complete=0", "complete=maybe"));
  EXPECT_TRUE(bad("\tcomplete=0", ""));
  EXPECT_NE(error.find("10 fields"), std::string::npos);
  EXPECT_EQ(ParseLine("serie\thost", &back, &run, &error), LineKind::kBad);
}

TEST(AccuracyTable, RowsAndTotalsComeFromTheScoredSeriesWithEachRunsIntervals) {
  const std::string path = ::testing::TempDir() + "accuracy_results.tsv";
  {
    std::ofstream file(path);
    file << FormatRun({"host", "idle", {{"phase", "start"}, {"hold", "400"}, {"double", "400"}}}) << "\n";
    // A run with other intervals: a press let go at 450 ms is a single press there.
    file << FormatRun({"host", "load", {{"phase", "start"}, {"hold", "500"}, {"double", "500"}}}) << "\n";
    const auto series = [&](const char* condition, Gesture gesture, Observed observed) {
      SeriesRecord record{"host", condition, PlanCell(0, gesture, 1, 1)[0], std::move(observed)};
      file << FormatSeries(record) << "\n";
    };
    series("idle", Gesture::kHold, Seen({{0, 450}}, {{kHold, 402}}));
    series("idle", Gesture::kHold, Seen({{0, 450}}, {{kSingle, 402}}));
    series("load", Gesture::kHold, Seen({{0, 450}}, {{kSingle, 509}}));
    series("load", Gesture::kDouble, Seen({{0, 90}, {200, 290}}, {{kDouble, 704}}));
  }
  Results results;
  std::string error;
  ASSERT_TRUE(ReadResults(path, &results, &error)) << error;
  std::remove(path.c_str());
  EXPECT_EQ(results.series.size(), 4u);
  const std::string table = FormatTable(results);
  const auto row = [&](const std::string& start) {
    const size_t at = table.find(start);
    return at == std::string::npos ? std::string() : table.substr(at, table.find('\n', at) - at);
  };
  const std::string idle_hold = row("host  idle      typical    hold");
  EXPECT_NE(idle_hold.find("50.0%"), std::string::npos) << table;
  EXPECT_NE(idle_hold.find("rule: 1x hold -> single"), std::string::npos) << table;
  const std::string load_hold = row("host  load      typical    hold");
  EXPECT_NE(load_hold.find("100.0%"), std::string::npos) << table;
  EXPECT_NE(load_hold.find("meant: 1x hold -> single"), std::string::npos) << table;
  // idle first, then load, each with its total; then the totals again.
  EXPECT_LT(table.find("host  idle      all"), table.find("host  load      typical"));
  EXPECT_NE(table.find("totals"), std::string::npos);
  const std::string load_total = row("host  load      all        all");
  EXPECT_NE(load_total.find("     9 "), std::string::npos) << load_total;  // delays 9 and 4: median 9 (nearest rank)

  Results none;
  EXPECT_FALSE(ReadResults(path, &none, &error));
  std::ofstream(path) << "series\thost\n";
  EXPECT_FALSE(ReadResults(path, &none, &error));
  EXPECT_NE(error.find(":1:"), std::string::npos) << error;
  std::remove(path.c_str());
}

// The tuner's promise, seeded and exact: a person's proposal from five
// presses of each kind reads at least 98% of 250 fresh series of their
// population as meant, where the defaults read a slow person's 58%.
TEST(TunerProof, AProposalFromFivePressesEachServesFreshPressesOfEveryPopulation) {
  TunerTrialPlan plan;
  plan.seeds = 10;
  const std::vector<TunerTrial> trials = RunTunerTrials(plan);
  ASSERT_EQ(trials.size(), static_cast<size_t>(kPopulationCount * plan.seeds));
  for (int population = 0; population < kPopulationCount; ++population) {
    int fresh = 0, right = 0, right_defaults = 0;
    for (const TunerTrial& trial : trials) {
      if (trial.population != population) continue;
      EXPECT_EQ(trial.fresh, 250);
      fresh += trial.fresh;
      right += trial.as_meant_at_proposal;
      right_defaults += trial.as_meant_at_defaults;
    }
    EXPECT_GE(right * 100, fresh * 98) << kPopulations[population].name << ": " << right << " of " << fresh;
    EXPECT_GE(right, right_defaults) << kPopulations[population].name;
  }
  // The slow population is the one the defaults fail.
  const TunerTrial slow = RunTunerTrial(PopulationFromName("slow"), 3, plan);
  EXPECT_LT(slow.as_meant_at_defaults * 100, slow.fresh * 70);
  EXPECT_GT(slow.proposal.double_ms, 600u);
  EXPECT_EQ(slow.single_wait_at_proposal, std::max(slow.proposal.hold_ms, slow.proposal.double_ms));
}

TEST(TunerProof, ASeedNamesOneTrial) {
  const TunerTrialPlan plan;
  const TunerTrial a = RunTunerTrial(0, 7, plan), b = RunTunerTrial(0, 7, plan);
  EXPECT_EQ(a.proposal.hold_ms, b.proposal.hold_ms);
  EXPECT_EQ(a.proposal.double_ms, b.proposal.double_ms);
  EXPECT_EQ(a.as_meant_at_proposal, b.as_meant_at_proposal);
  const std::string table = FormatTunerTable({a}, plan);
  EXPECT_NE(table.find("typical"), std::string::npos) << table;
  EXPECT_EQ(table.find("hurried"), std::string::npos) << table;
}

}  // namespace
