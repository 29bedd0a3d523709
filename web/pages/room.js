/*
 * room.js -- the room: every chamber of GET /api/v1/chambers, asked once a
 * second, in a table sortable by any column and filterable by name.
 *
 * Built for a thousand chambers: the table is built once; then each row
 * keeps what it shows and a cell's text node is written only when its
 * value changed, rows are sorted again only when a value of the sort
 * column changed, and moved only where the order differs. The table is
 * made of grid rows (role="table"), not of <table>, since a browser lays
 * out a <table> whole when one cell changes, and rows off screen can then
 * be skipped. Nothing here is made
 * with innerHTML: names come from the chambers' list, not from us.
 */
"use strict";
(function () {
  const POLL_MS = 1000;
  const CHANNEL_NAMES = ["temperature", "humidity"];
  const CHANNEL_SHORT = ["temp. °C", "hum. %rH"];  // the columns' titles: five channels fit on a laptop's screen
  const collator = new Intl.Collator(undefined, {numeric: true, sensitivity: "base"});
  const clock = {hour: "2-digit", minute: "2-digit", hourCycle: "h23"};
  const timeOfDay = new Intl.DateTimeFormat(undefined, Object.assign({second: "2-digit"}, clock));
  const dayAndTime = new Intl.DateTimeFormat(undefined, Object.assign({day: "numeric", month: "short"}, clock));

  const room = {
    columns: [],
    rows: new Map(),  // name -> row
    order: [],        // rows as the table shows them
    sort: {key: "name", dir: 1},
    sortDirty: true,
    filter: "",
    channels: -1,     // channel columns built; -1 before the first answer
    updates: 0,
    failingSince: null,
  };
  const $ = (id) => document.getElementById(id);

  /* ---- columns: what each cell depends on (raw: a number, text or
   * flag, compared with the last to find what changed), how it is written
   * (text, only then) and how it sorts (value, the raw one unless given) ---- */

  function number(v) {
    return v === null || v === undefined ? "–" : v.toFixed(1);
  }

  function since(ms) {
    if (!ms) return "";
    const d = new Date(ms);
    return d.toDateString() === new Date().toDateString() ? timeOfDay.format(d) : dayAndTime.format(d);
  }

  function duration(s) {
    if (s >= 3600) return Math.floor(s / 3600) + " h " + String(Math.floor(s / 60) % 60).padStart(2, "0") + " min";
    return s >= 120 ? Math.floor(s / 60) + " min" : Math.round(s) + " s";
  }

  function runText(run) {
    if (!run) return "";
    let text = run.step + " " + (run.step_name || "");
    if (run.status !== "running") return text + ", " + run.status;
    if (run.in_band === false) text += ", out of band";
    return run.seconds_left >= 0 ? text + ", " + duration(run.seconds_left) + " left" : text;
  }

  function channelValue(c, i, field) {
    const at = c.channels[i];  // the monitor lists them in order: mostly found at once
    if (at && at.channel === i) return at[field];
    for (const ch of c.channels) if (ch.channel === i) return ch[field];
    return null;
  }

  function channelColumns(i) {
    const label = CHANNEL_SHORT[i] || "ch " + i, name = CHANNEL_NAMES[i] || "channel " + i;
    return ["actual", "set"].map((field) => ({
      key: field + i, title: field === "actual" ? label : "set", long: name + ", " + field,
      cls: "num " + field, width: field === "actual" ? "6.5em" : "4em",
      raw: (c) => channelValue(c, i, field), text: number,
    }));
  }

  function makeColumns(channels) {
    const same = (v) => v;
    const cols = [
      {key: "name", title: "Chamber", cls: "name", width: "minmax(7em, 10em)", raw: (c) => c.name, text: same},
      {key: "up", title: "State", cls: "state", width: "4.5em", raw: (c) => c.up, text: (up) => (up ? "up" : "down")},
      {key: "since", title: "Since", cls: "since", width: "6.5em", raw: (c) => c.since, text: since},
    ];
    for (let i = 0; i < channels; i++) cols.push(...channelColumns(i));
    // tip: the cell's title holds its text, in full where the column cuts it
    cols.push({key: "run", title: "Run step", cls: "run", tip: true, width: "minmax(9em, 18em)",
               raw: (c) => runText(c.run), text: same, value: (c) => (c.run ? c.run.step : null)});
    cols.push({key: "alarms", title: "Alarms", cls: "alarms", tip: true, width: "minmax(9em, 1fr)",
               raw: (c) => c.alarms.join(", ").replace(/_/g, " "), text: same, value: (c) => c.alarms.length || null});
    for (const col of cols) col.value = col.value || col.raw;
    return cols;
  }

  /* ---- rows ---- */

  function element(tag, cls, role) {
    const el = document.createElement(tag);
    el.className = cls;
    el.setAttribute("role", role);
    return el;
  }

  /* A row is a grid of its own (pages.css), laid out and painted only
   * while on screen: a value that changes lays out its row alone. */
  function makeRow(c) {
    const el = element("div", "row", "row");
    const row = {name: c.name, el: el, nodes: [], raws: [], data: c, cls: "", address: null};
    el.dataset.name = c.name;
    for (const col of room.columns) {
      let holder = el.appendChild(element("div", "cell " + col.cls, "cell"));
      if (col.key === "name") {
        holder = holder.appendChild(document.createElement("a"));
        holder.href = "/chamber?name=" + encodeURIComponent(c.name);
        holder.title = c.name;  // in full, where the column cuts it
      }
      row.nodes.push(holder.appendChild(document.createTextNode("")));
      row.raws.push(undefined);
    }
    return row;
  }

  /* Writes the cells whose text changed; says whether the sort column's did. */
  function paintRow(row, c) {
    row.data = c;
    let sortChanged = false;
    for (let i = 0; i < room.columns.length; i++) {
      const col = room.columns[i], raw = col.raw(c);
      if (raw === row.raws[i]) continue;
      row.raws[i] = raw;
      const text = (row.nodes[i].data = col.text(raw));
      if (col.tip) row.nodes[i].parentNode.title = text;
      if (col.key === room.sort.key) sortChanged = true;
    }
    const cls = (c.up ? "" : "down") + (c.alarms.length ? " alarm" : "");
    if (cls !== row.cls) row.el.className = "row" + ((row.cls = cls) ? " " + cls : "");
    if (c.address !== row.address) row.el.title = row.address = c.address || "";
    return sortChanged;
  }

  function matches(row) {
    return !room.filter || row.name.toLowerCase().includes(room.filter);
  }

  function showFiltered(row) {
    const hidden = !matches(row);
    if (row.el.hidden !== hidden) row.el.hidden = hidden;
    return !hidden;
  }

  /* ---- sorting ---- */

  function sortColumn() {
    return room.columns.find((c) => c.key === room.sort.key) || room.columns[0];
  }

  function compareRows(a, b) {
    const x = room.sortValue(a.data), y = room.sortValue(b.data);
    if (x === y || (x == null && y == null)) return collator.compare(a.name, b.name);
    if (x == null) return 1;  // empty cells last, whichever the direction
    if (y == null) return -1;
    const d = typeof x === "string" ? collator.compare(x, y) : x - y;
    return d * room.sort.dir || collator.compare(a.name, b.name);
  }

  /* Puts the rows in order, moving only those out of place. */
  function placeRows() {
    if (!room.sortDirty) return;
    room.sortDirty = false;
    room.sortValue = sortColumn().value;
    room.order.sort(compareRows);
    const body = $("rows");
    let at = body.firstChild;
    for (const row of room.order) {
      if (row.el === at) at = at.nextSibling;
      else body.insertBefore(row.el, at);
    }
  }

  function sortBy(key) {
    room.sort = {key: key, dir: room.sort.key === key ? -room.sort.dir : 1};
    room.sortDirty = true;
    markSortHeader();
    placeRows();
    saveView();
  }

  function markSortHeader() {
    for (const th of $("head").children) {
      const sorted = th.dataset.key === room.sort.key;
      th.setAttribute("aria-sort", sorted ? (room.sort.dir > 0 ? "ascending" : "descending") : "none");
    }
  }

  /* ---- the table ---- */

  function buildHeader() {
    const head = $("head");
    head.textContent = "";
    $("chambers").style.setProperty("--columns", room.columns.map((c) => c.width).join(" "));
    for (const col of room.columns) {
      const th = head.appendChild(element("div", "cell " + col.cls, "columnheader"));
      th.dataset.key = col.key;
      const button = th.appendChild(document.createElement("button"));
      button.type = "button";
      button.textContent = col.title;
      button.title = "Sort by " + (col.long || col.title.toLowerCase());
      button.addEventListener("click", () => sortBy(col.key));
    }
    markSortHeader();
  }

  /* Builds every row at once: the first answer, or one with more channels. */
  function buildTable(chambers, channels) {
    room.channels = channels;
    room.columns = makeColumns(channels);
    room.rows.clear();
    room.order = [];
    buildHeader();
    const fragment = document.createDocumentFragment();
    for (const c of chambers) {
      const row = makeRow(c);
      paintRow(row, c);
      showFiltered(row);
      room.rows.set(c.name, row);
      room.order.push(row);
    }
    room.sortValue = sortColumn().value;
    room.order.sort(compareRows);
    for (const row of room.order) fragment.appendChild(row.el);
    const body = $("rows");
    body.textContent = "";
    body.appendChild(fragment);
    room.sortDirty = false;
  }

  /* Applies one answer to the rows there are: adds, paints, removes. */
  function updateTable(chambers) {
    const seen = new Set();
    for (const c of chambers) {
      seen.add(c.name);
      let row = room.rows.get(c.name);
      if (!row) {
        row = makeRow(c);
        room.rows.set(c.name, row);
        room.order.push(row);
        room.sortDirty = true;
      }
      if (paintRow(row, c)) room.sortDirty = true;
      showFiltered(row);
    }
    if (seen.size !== room.rows.size) removeRowsNotIn(seen);
    placeRows();
  }

  function removeRowsNotIn(seen) {
    room.order = room.order.filter((row) => {
      if (seen.has(row.name)) return true;
      row.el.remove();
      room.rows.delete(row.name);
      return false;
    });
  }

  function channelCount(chambers) {
    let n = 0;
    for (const c of chambers) for (const ch of c.channels) n = Math.max(n, ch.channel + 1);
    return n;
  }

  /* ---- the lines above the table ---- */

  function writeSummary(answer) {
    let up = 0, alarms = 0, shown = 0;
    for (const row of room.order) {
      if (row.data.up) up++;
      if (row.data.alarms.length) alarms++;
      if (!row.el.hidden) shown++;
    }
    const n = room.order.length;
    let text = n + (n === 1 ? " chamber" : " chambers") + ": " + up + " up, " + (n - up) + " down";
    if (alarms) text += ", " + alarms + " with alarms";
    if (answer.run) text += " — run " + answer.run;
    if (shown !== n) text += " — " + shown + " shown";
    setText($("summary"), text);
    $("empty").hidden = shown > 0 || n === 0;
  }

  function setText(el, text) {
    if (el.textContent !== text) el.textContent = text;
  }

  function writeStatus(answer, ms) {
    room.failingSince = null;
    document.body.dataset.stale = "false";
    setText($("status"), "Updated " + timeOfDay.format(new Date(answer.time)) + " (" + ms.toFixed(1) + " ms)");
  }

  function writeFailure(error) {
    room.failingSince = room.failingSince || Date.now();
    document.body.dataset.stale = "true";
    setText($("status"), "The monitor does not answer (" + error.message + ") since " +
            timeOfDay.format(new Date(room.failingSince)) + "; the table shows the last answer.");
  }

  /* ---- the view in the address: sort and filter survive a reload ---- */

  function saveView() {
    const p = new URLSearchParams();
    if (room.sort.key !== "name" || room.sort.dir < 0) p.set("sort", (room.sort.dir < 0 ? "-" : "") + room.sort.key);
    if (room.filter) p.set("filter", room.filter);
    const hash = p.toString();
    history.replaceState(null, "", hash ? "#" + hash : location.pathname + location.search);
  }

  function loadView() {
    const p = new URLSearchParams(location.hash.slice(1));
    const sort = p.get("sort");
    if (sort) room.sort = {key: sort.replace(/^-/, ""), dir: sort.startsWith("-") ? -1 : 1};
    room.filter = (p.get("filter") || "").toLowerCase();
    $("filter").value = p.get("filter") || "";
  }

  function onFilter() {
    room.filter = $("filter").value.trim().toLowerCase();
    for (const row of room.order) showFiltered(row);
    saveView();
    if (room.last) writeSummary(room.last);
  }

  /* ---- polling ---- */

  function apply(answer) {
    const t0 = performance.now();
    const chambers = answer.chambers || [];
    const channels = channelCount(chambers);
    const first = room.channels < 0;
    if (first || channels > room.channels) buildTable(chambers, channels);
    else updateTable(chambers);
    room.last = answer;
    writeSummary(answer);
    room.updates++;
    const body = document.body;
    body.dataset.chambers = String(room.order.length);
    body.dataset.updates = String(room.updates);
    body.dataset.time = String(answer.time);
    if (first) {
      void body.offsetHeight;  // the first render's time includes its layout
      body.dataset.firstRenderMs = performance.now().toFixed(1);
      body.dataset.state = "shown";
    }
    return performance.now() - t0;
  }

  async function poll() {
    const started = performance.now();
    room.inFlight = true;
    try {
      const response = await fetch("/api/v1/chambers", {cache: "no-store"});
      if (!response.ok) throw new Error("HTTP " + response.status);
      const answer = await response.json();
      const ms = apply(answer);
      document.body.dataset.updateMs = ms.toFixed(2);
      writeStatus(answer, ms);
    } catch (error) {
      writeFailure(error);
    }
    room.inFlight = false;
    schedule(Math.max(0, POLL_MS - (performance.now() - started)));
  }

  /* A hidden page asks for nothing; it asks at once when shown again. */
  function schedule(delay) {
    room.timer = setTimeout(() => {
      room.timer = null;
      if (!document.hidden) poll();
    }, delay);
  }

  function start() {
    loadView();
    $("filter").addEventListener("input", onFilter);
    document.addEventListener("visibilitychange", () => {
      if (!document.hidden && room.timer === null && !room.inFlight) poll();
    });
    room.timer = null;
    poll();
  }

  start();
})();
