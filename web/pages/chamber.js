/*
 * chamber.js -- one chamber's page (/chamber?name=NAME): its state, and a
 * trend of each analogue channel over a window of 10 minutes to 30 days,
 * drawn by trend.js. A window that ends now follows the time; a drag
 * across a plot zooms in, the buttons and Shift+wheel pan, and each change
 * is redrawn at once from the data there is, then asked of
 * /api/v1/series at the plot's resolution. How long each drawing took and
 * what it drew are written into the page (the body's and each plot's data
 * attributes, the status line) for tests and benchmarks.
 */
"use strict";
(function () {
  const MIN_SPAN = 10e3, MAX_SPAN = 30 * 86400e3, STATE_MS = 5000;
  const CHANNEL_NAMES = ["temperature", "humidity"];
  const view = {
    name: "", span: 3600e3, live: true, from: 0, to: 0, clockOffset: 0,
    plots: new Map(),  // channel -> {el, plot, summary}
    series: null, seq: 0, controller: null, liveTimer: null, loadTimer: null, given: false, draws: 0,
  };
  const $ = (id) => document.getElementById(id);
  const when = new Intl.DateTimeFormat(undefined, {day: "numeric", month: "short", hour: "2-digit", minute: "2-digit",
                                                   second: "2-digit", hourCycle: "h23"});

  function now() {
    return Date.now() + view.clockOffset;
  }

  /* ---- the window: live (ending now) or fixed ---- */

  function goLive(span) {
    view.live = true;
    view.span = Math.round(Math.min(MAX_SPAN, Math.max(MIN_SPAN, span)));
    view.to = Math.round(now());
    view.from = view.to - view.span;
  }

  /* A window that reaches now becomes live, of its length. */
  function fixWindow(from, to) {
    const span = Math.round(Math.min(MAX_SPAN, Math.max(MIN_SPAN, to - from)));
    const mid = (from + to) / 2;
    if (mid + span / 2 >= now() && !view.given) return goLive(span);
    view.live = false;
    view.from = Math.round(mid - span / 2);
    view.to = view.from + span;
  }

  function moveTo(from, to, delay) {
    fixWindow(from, to);
    rescale();
    saveView();
    requestLoad(delay);
  }

  function pan(fraction) {
    const shift = (view.to - view.from) * fraction;
    moveTo(view.from + shift, view.to + shift, 200);
  }

  function zoomOut() {
    const half = view.to - view.from;
    moveTo(view.from - half / 2, view.to + half / 2, 0);
  }

  /* A drag across a plot: the selected times become the window. */
  function selected(u) {
    const sel = u.select;
    if (sel.width < 3) return;
    const from = u.posToVal(sel.left, "x"), to = u.posToVal(sel.left + sel.width, "x");
    u.setSelect({left: 0, top: 0, width: 0, height: 0}, false);
    moveTo(from, to, 0);
  }

  function onWheel(e) {
    const sideways = Math.abs(e.deltaX) > Math.abs(e.deltaY);
    if (!e.shiftKey && !sideways) return;  // plain wheel scrolls the page
    e.preventDefault();
    pan(Math.sign(sideways ? e.deltaX : e.deltaY) * 0.1);
  }

  /* Every plot to the window, from the series there is: zoom and pan at
   * once, finer data once it comes. */
  function rescale() {
    writeWindow();
    if (!view.series) return;
    const t0 = performance.now();
    drawWindow(view.series);
    document.body.dataset.redrawMs = (performance.now() - t0).toFixed(2);
  }

  /* ---- the window in the address, and from it ---- */

  function saveView() {
    const p = new URLSearchParams({name: view.name});
    if (view.live) p.set("span", String(Math.round(view.span / 1000)));
    else { p.set("from", String(view.from)); p.set("to", String(view.to)); }
    history.replaceState(null, "", "?" + p.toString());
  }

  function loadView() {
    const p = new URLSearchParams(location.search);
    view.name = p.get("name") || "";
    const from = Number(p.get("from")), to = Number(p.get("to"));
    if (from && to > from) fixWindow(from, to);
    else goLive(Number(p.get("span")) * 1000 || view.span);
  }

  /* ---- asking for the series ---- */

  function pointsWanted() {
    const width = $("plots").clientWidth || 1000;
    return Math.min(10000, Math.max(100, Math.round(width)));
  }

  function requestLoad(delay) {
    clearTimeout(view.loadTimer);
    if (!view.given) view.loadTimer = setTimeout(load, delay);
  }

  async function load() {
    clearTimeout(view.liveTimer);
    const seq = ++view.seq;
    if (view.controller) view.controller.abort();
    view.controller = new AbortController();
    if (view.live) goLive(view.span);
    const q = new URLSearchParams({chamber: view.name, from: view.from, to: view.to, points: pointsWanted()});
    document.body.dataset.pointsAsked = q.get("points");
    document.body.dataset.state = "loading";
    try {
      const response = await fetch("/api/v1/series?" + q, {cache: "no-store", signal: view.controller.signal});
      if (!response.ok) throw new Error("HTTP " + response.status + " " + (await response.text()).trim());
      const series = await response.json();
      if (seq === view.seq && !view.given) draw(series);
    } catch (error) {
      if (error.name !== "AbortError" && seq === view.seq) fail(error);
    }
    if (seq === view.seq) scheduleLive();
  }

  /* A live window is asked again about every 300th of its length. */
  function scheduleLive() {
    clearTimeout(view.liveTimer);
    if (!view.live || view.given) return;
    const every = Math.min(60e3, Math.max(2e3, view.span / 300));
    view.liveTimer = setTimeout(() => (document.hidden ? scheduleLive() : load()), every);
  }

  function fail(error) {
    document.body.dataset.state = "error";
    $("status").textContent = "No series: " + error.message;
  }

  /* ---- drawing ---- */

  function channelTitle(c) {
    const unit = QuentaTrend.units[c];
    return (CHANNEL_NAMES[c] || "channel " + c) + (unit ? " (" + unit + ")" : "");
  }

  function plotWidth() {
    return Math.max(300, $("plots").clientWidth);
  }

  /* One plot per channel of the series; made again only when they change. */
  function ensurePlots(channels) {
    if (channels.join() === [...view.plots.keys()].join()) return;
    for (const p of view.plots.values()) p.plot.destroy();
    view.plots.clear();
    const box = $("plots");
    box.textContent = "";
    const page = {xRange: () => [view.from, view.to], selected: selected};
    for (const c of channels) {
      const el = box.appendChild(document.createElement("section"));
      el.className = "plot";
      el.dataset.channel = c;
      el.appendChild(document.createElement("h2")).textContent = channelTitle(c);
      const plot = QuentaTrend.create(el.appendChild(document.createElement("div")), Number(c), plotWidth(), page);
      plot.over.addEventListener("wheel", onWheel, {passive: false});
      view.plots.set(c, {el: el, plot: plot, summary: null});
    }
  }

  function draw(series) {
    view.series = series;
    ensurePlots(Object.keys(series.channels || {}).sort((a, b) => a - b));
    drawWindow(series);
  }

  function drawWindow(series) {
    let prepareMs = 0, drawMs = 0;
    for (const [c, p] of view.plots) {
      const shown = QuentaTrend.show(p.plot, series, c, view.from, view.to);
      p.summary = shown.summary;
      prepareMs += shown.prepareMs;
      drawMs += shown.drawMs;
    }
    view.draws++;
    expose(series, prepareMs, drawMs);
  }

  /* ---- what was drawn, for people and for tests ---- */

  function inWindow(from, to) {
    return (to == null || to >= view.from) && from <= view.to;
  }

  function expose(series, prepareMs, drawMs) {
    const body = document.body.dataset;
    let points = 0, plotted = 0;
    for (const p of view.plots.values()) {
      points += p.summary.points;
      plotted += p.summary.plotted;
      exposePlot(p.el.dataset, p.summary);
    }
    Object.assign(body, {
      state: "shown", from: String(view.from), to: String(view.to), buckets: String(series.t.length),
      points: String(points), plotted: String(plotted), source: series.source || "", draws: String(view.draws),
      bucketMs: String(series.bucket_ms),
      outages: String((series.outages || []).filter((o) => inWindow(o[0], o[1])).length),
      alarms: String((series.alarms || []).length), steps: String((series.steps || []).length),
      drawMs: drawMs.toFixed(2), prepareMs: prepareMs.toFixed(2),
    });
    writeStatus(series, points, plotted, prepareMs, drawMs);
    const csv = $("csv");
    csv.hidden = !series.csv;
    if (series.csv) csv.href = series.csv;
  }

  function exposePlot(d, s) {
    const text = (v) => (v == null ? "" : String(v));
    Object.assign(d, {
      points: String(s.points), bandPoints: String(s.bandPoints), lastT: text(s.lastT),
      lastMin: text(s.lastMin), lastMax: text(s.lastMax), lastSet: text(s.lastSet), band: text(s.band),
    });
  }

  function writeStatus(series, points, plotted, prepareMs, drawMs) {
    const bucket = series.bucket_ms >= 1000 ? (series.bucket_ms / 1000).toFixed(1) + " s" : series.bucket_ms + " ms";
    $("status").textContent = points.toLocaleString() + " values (buckets of " + bucket +
      (series.source ? ", from " + series.source : "") + ") drawn as " + plotted.toLocaleString() +
      " points in " + (prepareMs + drawMs).toFixed(1) + " ms (" + drawMs.toFixed(1) + " ms in uPlot)";
  }

  function writeWindow() {
    const span = view.to - view.from;
    $("window").textContent = when.format(new Date(view.from)) + " – " + when.format(new Date(view.to)) +
      (view.live ? " (live)" : "");
    for (const b of $("spans").querySelectorAll("button")) {
      b.setAttribute("aria-pressed", String(view.live && Number(b.dataset.span) * 1000 === span));
    }
  }

  /* ---- the chamber's state now ---- */

  function stateParts(c, answer) {
    if (!c) return [["state-down", "No chamber of this name in the monitor."]];
    const parts = [[c.up ? "state-up" : "state-down", c.up ? "up" : "down"],
                   ["", " since " + when.format(new Date(c.since)) + " — " + c.address]];
    if (c.run) {
      parts.push(["", " — run " + answer.run + ", step " + c.run.step + " " + c.run.step_name + ", " + c.run.status +
                  (c.run.in_band === false ? ", out of band" : "")]);
    }
    if (c.alarms.length) parts.push(["alarm-list", " — alarms: " + c.alarms.join(", ")]);
    return parts;
  }

  function writeState(c, answer) {
    const box = $("now");
    box.textContent = "";
    for (const [cls, text] of stateParts(c, answer)) {
      const span = box.appendChild(document.createElement("span"));
      span.className = cls;
      span.textContent = text;
    }
    document.body.dataset.up = c ? String(c.up) : "";
  }

  /* The chambers' answer also sets the page's clock to the monitor's. */
  async function loadState() {
    try {
      const response = await fetch("/api/v1/chambers", {cache: "no-store"});
      if (!response.ok) throw new Error("HTTP " + response.status);
      const answer = await response.json();
      view.clockOffset = answer.time - Date.now();
      writeState(answer.chambers.find((c) => c.name === view.name), answer);
    } catch (error) {
      $("now").textContent = "The monitor does not answer (" + error.message + ")";
    }
    setTimeout(loadState, STATE_MS);
  }

  /* ---- for benchmarks: draw given series, and zoom or pan over them ---- */

  window.quentaChamber = {
    show: function (series) {
      view.given = true;
      clearTimeout(view.liveTimer);
      clearTimeout(view.loadTimer);
      if (view.controller) view.controller.abort();
      fixWindow(series.from, series.to);
      writeWindow();
      draw(series);
    },
    zoom: (from, to) => moveTo(from, to, 0),
    pan: pan,
  };

  /* ---- start ---- */

  function wire() {
    for (const b of $("spans").querySelectorAll("button")) {
      b.addEventListener("click", () => { goLive(Number(b.dataset.span) * 1000); rescale(); saveView(); load(); });
    }
    $("earlier").addEventListener("click", () => pan(-0.5));
    $("later").addEventListener("click", () => pan(0.5));
    $("zoom-out").addEventListener("click", zoomOut);
    let resizeTimer = null;
    window.addEventListener("resize", () => {
      clearTimeout(resizeTimer);
      resizeTimer = setTimeout(() => {
        for (const p of view.plots.values()) p.plot.setSize({width: plotWidth(), height: 200});
      }, 150);
    });
  }

  async function start() {
    loadView();
    $("name").textContent = view.name;
    document.title = view.name + " — quenta-monitor";
    document.body.dataset.chamber = view.name;
    wire();
    writeWindow();
    await loadState();
    if (!view.given) load();
  }

  start();
})();
