// report.js -- draws the trend plots of a run's report (monitor/report.h)
// with uPlot, inlined beside it: each element of class "trend" gets the
// plot whose points the JSON block "trends" holds under the element's id.
// Per point: the smallest and largest actual value of the polls in its
// bucket (the area between them filled), the set value, and set +/- band
// where the step has a band. Times are UTC, as in the report's tables.
(function () {
  'use strict';

  var WIDTH = 680;   // CSS pixels: A4's width within its margins, one bucket a pixel
  var HEIGHT = 220;

  function utc(seconds) {
    return uPlot.tzDate(new Date(seconds * 1e3), 'Etc/UTC');
  }

  function offset(values, by) {
    return values.map(function (v) { return v === null ? null : v + by; });
  }

  function series(label, stroke, dash) {
    return { label: label, stroke: stroke, width: 1, dash: dash, spanGaps: false };
  }

  function options(plot) {
    var o = {
      width: WIDTH,
      height: HEIGHT,
      tzDate: utc,
      cursor: { drag: { x: false, y: false } },
      scales: { x: { time: true } },
      axes: [{}, { label: plot.name, size: 60 }],
      series: [{ label: 'UTC' }, series('actual, largest', '#b03a2e'), series('actual, smallest', '#1f618d'),
               series('set value', '#222222', [6, 4])],
      bands: [{ series: [1, 2], fill: 'rgba(176, 58, 46, 0.15)' }],
    };
    if (plot.band !== null) {
      o.series.push(series('set + ' + plot.band, '#1e8449', [2, 3]), series('set \u2212 ' + plot.band, '#1e8449', [2, 3]));
    }
    return o;
  }

  function data(plot) {
    var d = [plot.t, plot.max, plot.min, plot.set];
    if (plot.band !== null) d.push(offset(plot.set, plot.band), offset(plot.set, -plot.band));
    return d;
  }

  var trends = JSON.parse(document.getElementById('trends').textContent);
  var elements = document.querySelectorAll('.trend');
  for (var i = 0; i < elements.length; i++) {
    var plot = trends[elements[i].id];
    if (plot && plot.t.length > 0) new uPlot(options(plot), data(plot), elements[i]);
  }
}());
