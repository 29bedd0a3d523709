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

  /* uPlot's columns for channel: x (s), smallest and largest actual, set,
   * the step's band below and above the set value. */
  function columns(series, channel) {
    const ch = series.channels[channel], t = series.t;
    const cols = [[], [], [], [], [], []];
    const bands = stepBands(series.steps, channel), gaps = breaks(series);
    let b = 0, g = 0;
    for (let i = 0; i < t.length; i++) {
      for (; g < gaps.length && gaps[g] <= t[i]; g++) pushRow(cols, gaps[g], null, null, null, null);
      while (b < bands.length && bands[b][1] <= t[i]) b++;
      const set = ch.set[i];
      const width = b < bands.length && bands[b][0] <= t[i] && set != null ? bands[b][2] : null;
      pushRow(cols, t[i], ch.min[i], ch.max[i], set, width);
    }
    return cols;
  }

  function pushRow(cols, t, min, max, set, width) {
    cols[0].push(t / 1000);
    cols[1].push(min);
    cols[2].push(max);
    cols[3].push(set);
    cols[4].push(width === null ? null : set - width);
    cols[5].push(width === null ? null : set + width);
  }

  /* What a test can check without reading pixels: the values drawn. */
  function summary(cols) {
    const s = {points: 0, last: -1, bandPoints: 0};
    for (let i = 0; i < cols[0].length; i++) {
      if (cols[2][i] != null) { s.points++; s.last = i; }
      if (cols[3][i] != null) s.points++;
      if (cols[5][i] != null) s.bandPoints++;
    }
    const i = s.last;
    if (i >= 0) {
      Object.assign(s, {lastT: cols[0][i] * 1000, lastMin: cols[1][i], lastMax: cols[2][i], lastSet: cols[3][i]});
      s.band = cols[5][i] == null ? null : cols[5][i] - cols[3][i];
    }
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
      width: width, height: 200,
      cursor: {sync: {key: "chamber"}, drag: {x: true, y: false, setScale: false}},
      scales: {x: {time: true, range: page.xRange}},
      series: [{},
        line("actual, smallest", COLOR.actual, 1), line("actual, largest", COLOR.actual, 1),
        line("set", COLOR.set, 1.5, [6, 4]),
        line("band, below", COLOR.band, 1), line("band, above", COLOR.band, 1)],
      bands: [{series: [2, 1], fill: COLOR.actualFill}, {series: [5, 4], fill: COLOR.bandFill}],
      axes: [{}, {label: UNITS[channel] || "", size: 56}],
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
    return u.valToPos(ms / 1000, "x", true);
  }

  function drawOutages(u) {
    const m = marks.get(u);
    if (!m || !m.outages.length) return;
    clipped(u, (ctx, box) => {
      ctx.fillStyle = COLOR.outage;
      for (const [from, to] of m.outages) {
        const x0 = Math.max(box.left, xPos(u, from));
        const x1 = Math.min(box.left + box.width, to == null ? Infinity : xPos(u, to));
        if (x1 > x0) ctx.fillRect(x0, box.top, Math.max(1, x1 - x0), box.height);
      }
    });
  }

  function drawEvents(u) {
    const m = marks.get(u);
    if (!m) return;
    clipped(u, (ctx, box, px) => {
      ctx.font = 11 * px + "px sans-serif";
      ctx.textBaseline = "top";
      for (const s of m.steps) vertical(ctx, box, xPos(u, s.from), COLOR.step, [4 * px, 3 * px], s.step + " " + s.name, px);
      for (const a of m.alarms) {
        // raised and cleared on rows of their own, so that an alarm's two labels never overlap
        const color = a.raised ? COLOR.raised : COLOR.cleared, row = a.raised ? 14 : 28;
        vertical(ctx, box, xPos(u, a.t), color, a.raised ? [] : [2 * px, 2 * px], (a.raised ? "" : "cleared ") + a.alarm, px, row);
      }
    });
  }

  /* A line across the plot at x, its text at the top, or row px above the bottom. */
  function vertical(ctx, box, x, color, dash, text, px, row) {
    if (x < box.left || x > box.left + box.width) return;
    ctx.strokeStyle = ctx.fillStyle = color;
    ctx.lineWidth = px;
    ctx.setLineDash(dash);
    ctx.beginPath();
    ctx.moveTo(Math.round(x) + 0.5, box.top);
    ctx.lineTo(Math.round(x) + 0.5, box.top + box.height);
    ctx.stroke();
    ctx.fillText(text, x + 3 * px, row ? box.top + box.height - row * px : box.top + 2 * px);
  }

  /* ---- the plot ---- */

  /* A plot of channel in el; page gives xRange(u) and selected(u). */
  function create(el, channel, width, page) {
    return new uPlot(options(channel, width, page), [[], [], [], [], [], []], el);
  }

  /* Draws channel of series on plot; returns the summary of what it drew
   * and the milliseconds spent preparing the columns and in uPlot. */
  function show(plot, series, channel) {
    const t0 = performance.now();
    const cols = columns(series, channel);
    marks.set(plot, {outages: series.outages || [], alarms: series.alarms || [], steps: series.steps || []});
    const t1 = performance.now();
    plot.batch(() => plot.setData(cols));
    const t2 = performance.now();
    return {summary: summary(cols), prepareMs: t1 - t0, drawMs: t2 - t1};
  }

  return {create: create, show: show, units: UNITS};
})();
