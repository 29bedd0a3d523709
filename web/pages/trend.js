/*
 * trend.js -- one channel of a chamber's series (GET /api/v1/series) drawn
 * with uPlot: the actual value as a band from the smallest to the largest
 * of each bucket, the set value, the band of each step around the set
 * value; outages, alarms and the steps' beginnings marked over it.
 * chamber.js owns the page; this draws and sums up what it drew.
 */
"use strict";
window.QuentaTrend = (function () {
  const COLOR = {
    actual: "#1f5fbf", actualFill: "rgba(31, 95, 191, 0.3)", set: "#c05a00",
    band: "rgba(29, 122, 58, 0.55)", bandFill: "rgba(29, 122, 58, 0.13)",
    outage: "rgba(179, 38, 30, 0.15)", raised: "#b3261e", cleared: "#6b7585", step: "#5d6778",
  };
  const UNITS = ["°C", "%rH"];
  const marks = new WeakMap();  // plot -> {outages, alarms, steps} of the series it shows

  /* [[from, to, width]] of the steps with a band on channel, in time order. */
  function stepBands(steps, channel) {
    const out = [];
    for (const s of steps || []) {
      const width = s.band ? s.band[channel] : undefined;
      if (width != null) out.push([s.from, s.to == null ? Infinity : s.to, width]);
    }
    return out.sort((a, b) => a[0] - b[0]);
  }

  /* The starts of the outages, where a row of nulls breaks every line. */
  function breaks(series) {
    return (series.outages || []).map((o) => o[0]).sort((a, b) => a - b);
  }

  /* The first index of sorted t at or after v. */
  function lowerBound(t, v) {
    let lo = 0, hi = t.length;
    while (lo < hi) {
      const mid = (lo + hi) >> 1;
      if (t[mid] < v) lo = mid + 1; else hi = mid;
    }
    return lo;
  }

  /* uPlot's columns for channel over [from, to] on width pixels: x (ms),
   * smallest and largest actual, set, the step's band below and above the
   * set value. Where the window holds more buckets than pixels, those of
   * one pixel's time are merged as the monitor merges polls (smallest,
   * largest, last set), so that every peak is still drawn and uPlot draws
   * a point per pixel, however many there were. Also sums up what it drew. */
  function columns(series, channel, from, to, width) {
    const ch = series.channels[channel], t = series.t;
    const i0 = lowerBound(t, from), i1 = lowerBound(t, to + 1);
    const acc = {cols: [[], [], [], [], [], []], bands: stepBands(series.steps, channel), b: 0,
                 row: null, slot: i1 - i0 > 2 * width ? (to - from) / width : 0, from: from};
    const gaps = breaks(series).filter((g) => g >= from && g <= to);
    const sum = {points: 0, last: -1, bandPoints: 0};
    let g = 0;
    for (let i = i0; i < i1; i++) {
      for (; g < gaps.length && gaps[g] <= t[i]; g++) {
        flush(acc);
        pushRow(acc.cols, gaps[g], null, null, null, null);
      }
      add(acc, t[i], ch.min[i], ch.max[i], ch.set[i]);
      if (ch.max[i] != null) { sum.points++; sum.last = i; }
      if (ch.set[i] != null) sum.points++;
    }
    flush(acc);
    return {cols: acc.cols, summary: summary(sum, ch, t, acc.cols)};
  }

  /* One bucket into the row being merged, or a row of its own. */
  function add(acc, t, min, max, set) {
    const r = acc.row, key = acc.slot ? Math.floor((t - acc.from) / acc.slot) : t;
    if (r && r.key === key) {
      if (min != null && (r.min == null || min < r.min)) r.min = min;
      if (max != null && (r.max == null || max > r.max)) r.max = max;
      if (set != null) r.set = set;
      return;
    }
    flush(acc);
    acc.row = {key: key, t: t, min: min, max: max, set: set};
  }

  function flush(acc) {
    const r = acc.row, bands = acc.bands;
    if (!r) return;
    acc.row = null;
    while (acc.b < bands.length && bands[acc.b][1] <= r.t) acc.b++;
    const band = acc.b < bands.length && bands[acc.b][0] <= r.t && r.set != null ? bands[acc.b][2] : null;
    pushRow(acc.cols, r.t, r.min, r.max, r.set, band);
  }

  function pushRow(cols, t, min, max, set, width) {
    cols[0].push(t);
    cols[1].push(min);
    cols[2].push(max);
    cols[3].push(set);
    cols[4].push(width === null ? null : set - width);
    cols[5].push(width === null ? null : set + width);
  }

  /* What a test can check without reading pixels: the values in the
   * window, the last bucket's, the band drawn at the end. */
  function summary(sum, ch, t, cols) {
    const s = {points: sum.points, plotted: cols[0].length, bandPoints: 0, band: null};
    for (let i = 0; i < cols[5].length; i++) if (cols[5][i] != null) s.bandPoints++;
    for (let i = cols[0].length - 1; i >= 0; i--) {
      if (cols[2][i] == null) continue;
      s.band = cols[5][i] == null ? null : cols[5][i] - cols[3][i];
      break;
    }
    const i = sum.last;
    if (i >= 0) Object.assign(s, {lastT: t[i], lastMin: ch.min[i], lastMax: ch.max[i], lastSet: ch.set[i]});
    return s;
  }

  function fmt(u, v) {
    return v == null ? "–" : v.toFixed(1);
  }

  function line(label, stroke, width, dash) {
    return {label: label, stroke: stroke, width: width, dash: dash, value: fmt, points: {show: false}};
  }

  function options(channel, width, page) {
    return {
      width: width, height: 200, ms: 1,
      // The cursor follows across the channels' plots, but a drag selects
      // in its own plot alone: its release is not passed on to the others.
      cursor: {sync: {key: "chamber", filters: {pub: (type) => type !== "mousedown" && type !== "mouseup"}},
               drag: {x: true, y: false, setScale: false}},
      scales: {x: {time: true, range: page.xRange}},
      series: [{},
        line("actual, smallest", COLOR.actual, 1), line("actual, largest", COLOR.actual, 1),
        line("set", COLOR.set, 1.5, [6, 4]),
        line("band, below", COLOR.band, 1), line("band, above", COLOR.band, 1)],
      bands: [{series: [2, 1], fill: COLOR.actualFill}, {series: [5, 4], fill: COLOR.bandFill}],
      axes: [{space: 80}, {label: UNITS[channel] || "", size: 56}],
      hooks: {drawClear: [drawOutages], draw: [drawEvents], setSelect: [page.selected]},
    };
  }

  /* ---- marks over the plot, in canvas pixels ---- */

  function clipped(u, paint) {
    const ctx = u.ctx, box = u.bbox;
    ctx.save();
    ctx.beginPath();
    ctx.rect(box.left, box.top, box.width, box.height);
    ctx.clip();
    paint(ctx, box, devicePixelRatio || 1);
    ctx.restore();
  }

  function xPos(u, ms) {
    return u.valToPos(ms, "x", true);
  }

  /* Each outage shaded, with a bar at the bottom at least 3 px wide, so
   * that one of a few seconds in a month still shows. */
  function drawOutages(u) {
    const m = marks.get(u);
    if (!m || !m.outages.length) return;
    clipped(u, (ctx, box, px) => {
      for (const [from, to] of m.outages) {
        const x0 = Math.max(box.left, xPos(u, from));
        const x1 = Math.min(box.left + box.width, to == null ? Infinity : xPos(u, to));
        if (x1 < box.left || x0 > box.left + box.width) continue;
        ctx.fillStyle = COLOR.outage;
        ctx.fillRect(x0, box.top, Math.max(px, x1 - x0), box.height);
        ctx.fillStyle = COLOR.raised;
        ctx.fillRect(Math.min(x0, x1 - 3 * px), box.top + box.height - 4 * px, Math.max(3 * px, x1 - x0), 4 * px);
      }
    });
  }

  /* The steps' beginnings, labelled at the top; the alarms, raised and
   * cleared on rows of their own near the bottom. Labels are laid from
   * the latest back, each only where it ends before the next one: the
   * latest step or alarm is always named. */
  function drawEvents(u) {
    const m = marks.get(u);
    if (!m) return;
    clipped(u, (ctx, box, px) => {
      ctx.font = 11 * px + "px sans-serif";
      ctx.textBaseline = "top";
      ctx.textAlign = "left";  // uPlot leaves its axes' alignment set
      let limit = Infinity;
      for (const s of [...m.steps].reverse()) {
        limit = mark(ctx, box, xPos(u, s.from), COLOR.step, [4 * px, 3 * px], s.step + " " + s.name, 2 * px, limit, px);
      }
      const limits = {true: Infinity, false: Infinity};
      for (const a of [...m.alarms].reverse()) {
        const y = box.height - (a.raised ? 14 : 28) * px, color = a.raised ? COLOR.raised : COLOR.cleared;
        limits[a.raised] = mark(ctx, box, xPos(u, a.t), color, a.raised ? [] : [2 * px, 2 * px],
                                (a.raised ? "" : "cleared ") + a.alarm.replace(/_/g, " "), y, limits[a.raised], px);
      }
    });
  }

  /* A line across the plot at x, its text at y from the top where it ends
   * before limit; returns the limit for the label before it. */
  function mark(ctx, box, x, color, dash, text, y, limit, px) {
    if (x < box.left || x > box.left + box.width) return limit;
    ctx.strokeStyle = ctx.fillStyle = color;
    ctx.lineWidth = px;
    ctx.setLineDash(dash);
    ctx.beginPath();
    ctx.moveTo(Math.round(x) + 0.5, box.top);
    ctx.lineTo(Math.round(x) + 0.5, box.top + box.height);
    ctx.stroke();
    const width = ctx.measureText(text).width;
    let left = x + 3 * px;
    if (left + width > box.left + box.width) left = x - 3 * px - width;  // at the right edge: before the line
    left = Math.max(box.left, left);
    if (left + width + 6 * px > limit) return limit;
    ctx.fillText(text, left, box.top + y);
    return left;
  }

  /* ---- the plot ---- */

  /* A plot of channel in el; page gives xRange(u) and selected(u). */
  function create(el, channel, width, page) {
    return new uPlot(options(channel, width, page), [[], [], [], [], [], []], el);
  }

  /* Draws channel of series on plot over [from, to]; returns the summary
   * of what it drew and the milliseconds spent making the columns and in
   * uPlot's setData (which draws: batch() makes it draw at once). */
  function show(plot, series, channel, from, to) {
    const t0 = performance.now();
    const width = Math.max(50, Math.round(plot.bbox.width / (devicePixelRatio || 1)));
    const made = columns(series, channel, from, to, width);
    marks.set(plot, {outages: series.outages || [], alarms: series.alarms || [], steps: series.steps || []});
    const t1 = performance.now();
    plot.batch(() => plot.setData(made.cols));
    const t2 = performance.now();
    return {summary: made.summary, prepareMs: t1 - t0, drawMs: t2 - t1};
  }

  return {create: create, show: show, units: UNITS};
})();
