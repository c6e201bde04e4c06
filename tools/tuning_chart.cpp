// tuning-chart: what the Angle setting does, drawn from the plug-in's own accuracy code.
//
// Each point is one call of computeShooterAccuracy on a ped of the simulated world: a shooter
// stands at a given distance from its target with its barrel a given number of degrees off,
// every other game value neutral, and the chart reads the accuracy the plug-in set on it.
//
//   tuning-chart [--svg FILE] [--data FILE]     FILE "-" is standard output
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "accuracy/accuracy.h"
#include "accuracy/weapon_bones.h"
#include "output_file.h"
#include "settings/settings.h"
#include "world.h"

namespace {

struct Point {
  double x;  // degrees of misalignment, or metres of distance
  int accuracy;
};

struct Series {
  std::string name;    // for the data file
  std::string legend;  // for a person
  const char* colour;
  double angle;     // the Angle setting
  double distance;  // metres; for the distance series the x of each point
  std::vector<Point> points;
};

// The accuracy the plug-in sets on a shooter `distance` metres from its target whose barrel is
// `misalignment` degrees off it, with Angle = `angle`; -1 when it set none.
int plugInAccuracy(double distance, double misalignment, double angle) {
  sim::Scene scene;
  scene.name = "tuning";
  sim::Actor target;
  target.name = "player";
  scene.actors.push_back(target);
  // Shooter and target on one axis line: an aim error of 0 is an angle of exactly 0 then.
  sim::Actor shooter;
  shooter.name = "Shooter";
  shooter.position = {0.0f, static_cast<float>(distance), 0.0f};
  shooter.weapon = "WEAPON_REVOLVER_CATTLEMAN";
  shooter.model = "rv_cattleman";
  shooter.target = "player";
  shooter.aimError = misalignment;
  scene.actors.push_back(shooter);

  sim::installWorld(scene);
  angleLeniency = static_cast<float>(angle);
  buildWeaponBoneTable();
  const std::int32_t returned = computeShooterAccuracy(sim::actorHandle(1));
  const sim::ActorFrame& frame = sim::world().current.actors[1];
  if (returned != frame.accuracy || frame.accuracySets != 1 ||
      !sim::world().protocolErrors.empty() || !sim::host().unknownNatives.empty()) {
    return -1;
  }
  return returned;
}

bool sample(std::vector<Series>& misalignment, Series& distance) {
  for (Series& series : misalignment) {
    for (int step = 0; step <= 240; ++step) {  // 0 to 6 degrees by 0.025
      const double degrees = step * 0.025;
      const int accuracy = plugInAccuracy(series.distance, degrees, series.angle);
      if (accuracy < 0) return false;
      series.points.push_back({degrees, accuracy});
    }
  }
  // From 1 m: nearer, the target stands at the shooter's hand and no barrel can point at it.
  for (int step = 2; step <= 300; ++step) {  // 1 to 150 m by 0.5
    const double metres = step * 0.5;
    const int accuracy = plugInAccuracy(metres, 0.0, distance.angle);
    if (accuracy < 0) return false;
    distance.points.push_back({metres, accuracy});
  }
  return true;
}

// ---- the picture ----

constexpr int width = 920;
constexpr int height = 448;
constexpr int plotTop = 70;
constexpr int plotHeight = 270;
constexpr int plotWidth = 340;
constexpr int leftPlotX = 80;
constexpr int rightPlotX = 530;

struct Panel {
  int left;
  double xMax;
  double xStep;  // between labelled ticks
  const char* title;
  const char* xLabel;
};

double toScreenX(const Panel& panel, double x) { return panel.left + x / panel.xMax * plotWidth; }
double toScreenY(double accuracy) { return plotTop + plotHeight - accuracy / 100.0 * plotHeight; }

void axes(std::string& svg, const Panel& panel) {
  char text[512];
  std::snprintf(text, sizeof text,
                "<text x=\"%d\" y=\"%d\" class=\"title\" text-anchor=\"middle\">%s</text>\n",
                panel.left + plotWidth / 2, plotTop - 22, panel.title);
  svg += text;
  for (int accuracy = 0; accuracy <= 100; accuracy += 20) {
    const double y = toScreenY(accuracy);
    std::snprintf(text, sizeof text,
                  "<line x1=\"%d\" y1=\"%.1f\" x2=\"%d\" y2=\"%.1f\" class=\"grid\"/>\n"
                  "<text x=\"%d\" y=\"%.1f\" text-anchor=\"end\">%d</text>\n",
                  panel.left, y, panel.left + plotWidth, y, panel.left - 8, y + 4, accuracy);
    svg += text;
  }
  for (double x = 0.0; x <= panel.xMax + 1e-9; x += panel.xStep) {
    const double screenX = toScreenX(panel, x);
    std::snprintf(text, sizeof text,
                  "<line x1=\"%.1f\" y1=\"%d\" x2=\"%.1f\" y2=\"%d\" class=\"grid\"/>\n"
                  "<text x=\"%.1f\" y=\"%d\" text-anchor=\"middle\">%g</text>\n",
                  screenX, plotTop, screenX, plotTop + plotHeight, screenX,
                  plotTop + plotHeight + 18, x);
    svg += text;
  }
  std::snprintf(text, sizeof text,
                "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" class=\"frame\"/>\n"
                "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\">%s</text>\n"
                "<text x=\"%d\" y=\"%d\" text-anchor=\"middle\" transform=\"rotate(-90 %d %d)\">"
                "accuracy (%%)</text>\n",
                panel.left, plotTop, plotWidth, plotHeight, panel.left + plotWidth / 2,
                plotTop + plotHeight + 42, panel.xLabel, panel.left - 42, plotTop + plotHeight / 2,
                panel.left - 42, plotTop + plotHeight / 2);
  svg += text;
}

void line(std::string& svg, const Panel& panel, const Series& series) {
  svg += "<polyline class=\"series\" stroke=\"";
  svg += series.colour;
  svg += "\" points=\"";
  char point[48];
  for (const Point& p : series.points) {
    std::snprintf(point, sizeof point, "%.1f,%.1f ", toScreenX(panel, p.x), toScreenY(p.accuracy));
    svg += point;
  }
  svg.back() = '"';
  svg += "/>\n";
}

void legend(std::string& svg, int right, int top, const std::vector<const Series*>& entries) {
  const int boxWidth = 178;
  const int rowHeight = 20;
  const int left = right - boxWidth;
  char text[384];
  std::snprintf(text, sizeof text,
                "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" class=\"legend\"/>\n", left,
                top, boxWidth, static_cast<int>(entries.size()) * rowHeight + 8);
  svg += text;
  int y = top + 4 + rowHeight / 2;
  for (const Series* series : entries) {
    std::snprintf(text, sizeof text,
                  "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" class=\"series\" stroke=\"%s\"/>\n"
                  "<text x=\"%d\" y=\"%d\">%s</text>\n",
                  left + 8, y, left + 34, y, series->colour, left + 42, y + 4,
                  series->legend.c_str());
    svg += text;
    y += rowHeight;
  }
}

std::string chart(const std::vector<Series>& misalignment, const Series& distance) {
  std::string svg;
  char text[512];
  std::snprintf(text, sizeof text,
                "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%d\" height=\"%d\" "
                "viewBox=\"0 0 %d %d\" font-family=\"DejaVu Sans, Arial, sans-serif\" "
                "font-size=\"13\">\n",
                width, height, width, height);
  svg += text;
  svg +=
      "<title>What the Angle setting does to a ped's accuracy</title>\n"
      "<style>\n"
      "  .title { font-size: 15px; font-weight: bold; }\n"
      "  .grid { stroke: #d8d8d8; stroke-width: 1; }\n"
      "  .frame { fill: none; stroke: #444; stroke-width: 1; }\n"
      "  .series { fill: none; stroke-width: 2.5; stroke-linejoin: round; }\n"
      "  .legend { fill: white; stroke: #999; stroke-width: 1; }\n"
      "  .note { font-size: 12px; fill: #555; }\n"
      "</style>\n"
      "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";

  const Panel left{leftPlotX, 6.0, 1.0, "Barrel misalignment, target at 30 m",
                   "barrel misalignment (degrees)"};
  const Panel right{rightPlotX, 150.0, 25.0, "Distance, barrel perfectly aligned",
                    "distance to the target (m)"};
  axes(svg, left);
  axes(svg, right);
  std::vector<const Series*> entries;
  for (const Series& series : misalignment) {
    line(svg, left, series);
    entries.push_back(&series);
  }
  line(svg, right, distance);
  legend(svg, left.left + plotWidth - 8, plotTop + 8, entries);
  legend(svg, right.left + plotWidth - 8, plotTop + 8, {&distance});

  std::snprintf(text, sizeof text,
                "<text x=\"%d\" y=\"%d\" class=\"note\">Accuracy the plug-in sets on a ped, "
                "computed by its own code in the simulated game; every other game value is "
                "neutral.</text>\n"
                "<text x=\"%d\" y=\"%d\" class=\"note\">Barrel aligned: 99 %% at 1 m, one "
                "point less every 1.5 m, 10 %% from 135 m on but 9 %% at 141.5 and 147 m.</text>\n"
                "<text x=\"%d\" y=\"%d\" class=\"note\">Barrel off by Angle degrees or more: "
                "0 %%.</text>\n",
                leftPlotX - 40, height - 48, leftPlotX - 40, height - 30, leftPlotX - 40,
                height - 12);
  svg += text;
  svg += "</svg>\n";
  return svg;
}

std::string data(const std::vector<Series>& misalignment, const Series& distance) {
  std::string out = "series\tangle\tdistance_m\tmisalignment_deg\taccuracy\n";
  char row[128];
  for (const Series& series : misalignment) {
    for (const Point& p : series.points) {
      std::snprintf(row, sizeof row, "%s\t%g\t%g\t%g\t%d\n", series.name.c_str(), series.angle,
                    series.distance, p.x, p.accuracy);
      out += row;
    }
  }
  for (const Point& p : distance.points) {
    std::snprintf(row, sizeof row, "%s\t%g\t%g\t%g\t%d\n", distance.name.c_str(), distance.angle,
                  p.x, 0.0, p.accuracy);
    out += row;
  }
  return out;
}

bool writeFile(const char* path, const std::string& text) {
  if (std::strcmp(path, "-") == 0) return std::fputs(text.c_str(), stdout) >= 0;
  return sim::writeWholeFile(path, text);
}

}  // namespace

int main(int argc, char** argv) {
  const char* svgPath = nullptr;
  const char* dataPath = nullptr;
  constexpr char usage[] =
      "usage: tuning-chart [--svg FILE] [--data FILE] [--help]   (FILE - is standard output)\n"
      "  --svg FILE    draw the chart of what Angle does (docs/tuning.svg)\n"
      "  --data FILE   write its points as tab-separated numbers\n";
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--svg") == 0 && i + 1 < argc) {
      svgPath = argv[++i];
    } else if (std::strcmp(argv[i], "--data") == 0 && i + 1 < argc) {
      dataPath = argv[++i];
    } else if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(usage, stdout);
      return 0;
    } else {
      std::fputs(usage, stderr);
      return 2;
    }
  }

  std::vector<Series> misalignment = {
      {"misalignment", "Angle = 1.5", "#d62728", 1.5, 30.0, {}},
      {"misalignment", "Angle = 3 (new file)", "#1f77b4", 3.0, 30.0, {}},
      {"misalignment", "Angle = 5", "#2ca02c", 5.0, 30.0, {}},
  };
  // Angle hardly matters with an aligned barrel: only where rounding makes the plug-in see a
  // few hundredths of a degree, a point may be lost.
  Series distance{"distance", "Angle = 3 (new file)", "#1f77b4", 3.0, 0.0, {}};
  if (!sample(misalignment, distance)) {
    std::fputs("tuning-chart: the plug-in set no accuracy on the shooter\n", stderr);
    return 1;
  }
  if (svgPath != nullptr && !writeFile(svgPath, chart(misalignment, distance))) {
    std::fprintf(stderr, "tuning-chart: cannot write %s\n", svgPath);
    return 1;
  }
  if (dataPath != nullptr && !writeFile(dataPath, data(misalignment, distance))) {
    std::fprintf(stderr, "tuning-chart: cannot write %s\n", dataPath);
    return 1;
  }
  return 0;
}
