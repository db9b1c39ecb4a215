"use strict";
// The dashboard: fetches the agent's history once (page after page, when it
// is long), then only the samples after the newest it holds, every second.
// Every card keeps its series in growing arrays, trimmed to what the agent
// keeps, and redraws once a poll.
(function () {
  const POLL_MS = 1000;
  const KINDS = [
    { kind: "temperature", title: "Temperatures" },
    { kind: "fan", title: "Fans" },
    { kind: "voltage", title: "Voltages" },
  ];
  const UNITS = { celsius: "\u00b0C", rpm: "RPM", volts: "V" };
  // A state in words and a symbol, never in colour alone.
  const STATES = {
    ok: { word: "ok", symbol: "\u2713" },
    warning: { word: "warning", symbol: "\u26a0" },
    critical: { word: "critical", symbol: "\u2716" },
    alarm: { word: "driver alarm", symbol: "\u2716" },
  };
  const LIMITS = ["high_critical", "high_warning", "low_warning", "low_critical"];
  const TITLE = document.title;

  const state = {
    times: [],          // seconds since 1970, oldest first (uPlot's x values)
    series: new Map(),  // id -> { info, values, card }
    newest: null,       // the newest timestamp held, in milliseconds
    kept: 0,            // seconds the agent keeps
    range: 3600,        // seconds shown; 0 for everything kept
    lastContact: null,  // when the agent last answered
  };

  const $ = (id) => document.getElementById(id);

  function historyUrl() {
    let url = location.pathname + "?format=history";
    if (state.newest !== null) url += "&since=" + state.newest;
    return url;
  }

  function css(name) {
    return getComputedStyle(document.documentElement).getPropertyValue(name).trim();
  }

  function formatTime(date) {
    return date.toLocaleTimeString([], { hour: "2-digit", minute: "2-digit", second: "2-digit" });
  }

  function formatValue(value) {
    return value === null || value === undefined ? "\u2013" : String(value);
  }

  function kindSection(kind) {
    let section = document.querySelector('section[data-kind="' + kind + '"]');
    if (section) return section;
    section = document.createElement("section");
    section.dataset.kind = kind;
    const heading = document.createElement("h2");
    heading.textContent = KINDS.find((k) => k.kind === kind).title;
    const cards = document.createElement("div");
    cards.className = "cards";
    section.append(heading, cards);
    // Kinds keep the block's order whatever order they first appear in.
    const order = KINDS.findIndex((k) => k.kind === kind);
    const after = Array.from($("kinds").children).find(
      (s) => KINDS.findIndex((k) => k.kind === s.dataset.kind) > order);
    $("kinds").insertBefore(section, after || null);
    return section;
  }

  function makeCard(info) {
    const card = document.createElement("article");
    card.className = "card";
    card.dataset.id = info.id;
    card.innerHTML =
      '<div class="top"><span class="name"></span><span class="id"></span></div>' +
      '<div class="state" hidden></div>' +
      '<div class="value"><span class="now"></span> <span class="unit"></span></div>' +
      '<div class="extremes">min <span class="min"></span> \u00b7 max <span class="max"></span>' +
      ' since start</div><div class="chart"></div>';
    card.querySelector(".id").textContent = info.id;
    card.querySelector(".unit").textContent = UNITS[info.unit] || info.unit;
    kindSection(info.kind).querySelector(".cards").append(card);
    return card;
  }

  // The reading's limits, highest first, as the chart draws them.
  function limitsOf(info) {
    const limits = info.limits || {};
    return LIMITS.filter((name) => typeof limits[name] === "number")
      .map((name) => ({ name: name, value: limits[name] }));
  }

  // Times as hours and minutes only: a phone's narrow axis has no room for dates.
  function timeLabels(u, splits) {
    return splits.map((s) => new Date(s * 1000).toLocaleTimeString([], { hour: "2-digit",
                                                                          minute: "2-digit" }));
  }

  function chartOptions(entry, width) {
    const axis = { stroke: css("--muted"), grid: { stroke: css("--line"), width: 1 },
                   ticks: { stroke: css("--line"), width: 1 } };
    return {
      width: width,
      height: 120,
      legend: { show: false },
      cursor: { drag: { x: false, y: false } },
      scales: { x: { time: true } },
      axes: [Object.assign({ space: 70, values: timeLabels }, axis),
             Object.assign({ size: 48 }, axis)],
      series: [{}, { label: entry.info.id, stroke: css("--" + entry.info.kind), width: 1.5,
                     points: { show: false } }].concat(entry.limits.map((limit) => ({
        label: limit.name,
        stroke: css(limit.name.endsWith("critical") ? "--alert" : "--warning"),
        width: 1, dash: [4, 4], points: { show: false },
      }))),
    };
  }

  function chartWidth(entry) {
    return Math.max(160, Math.floor(entry.card.querySelector(".chart").clientWidth));
  }

  function visible(entry) {
    let first = 0;
    if (state.range !== 0 && state.times.length > 0) {
      const from = state.times[state.times.length - 1] - state.range;
      while (first < state.times.length && state.times[first] < from) first++;
    }
    const times = state.times.slice(first);
    // Each limit is a flat line, so that the chart's range takes it in.
    return [times, entry.values.slice(first)].concat(
      entry.limits.map((limit) => times.map(() => limit.value)));
  }

  function draw(entry) {
    const limits = limitsOf(entry.info);
    if (entry.chart && JSON.stringify(limits) !== JSON.stringify(entry.limits)) {
      entry.chart.destroy();  // limits came or went: the series change
      entry.chart = null;
    }
    entry.limits = limits;
    const data = visible(entry);
    if (!entry.chart) {
      entry.chart = new uPlot(chartOptions(entry, chartWidth(entry)), data,
                              entry.card.querySelector(".chart"));
    } else {
      entry.chart.setData(data);
    }
  }

  function rebuildCharts() {
    for (const entry of state.series.values()) {
      if (entry.chart) entry.chart.destroy();
      entry.chart = null;
      draw(entry);
    }
  }

  function showCard(entry) {
    const info = entry.info;
    const shown = STATES[info.state];
    const badge = entry.card.querySelector(".state");
    badge.hidden = !shown;
    if (shown) badge.textContent = shown.symbol + " " + shown.word;
    entry.card.dataset.state = info.state || "";
    entry.card.querySelector(".name").textContent = info.name || info.id;
    entry.card.querySelector(".now").textContent = formatValue(entry.values[entry.values.length - 1]);
    entry.card.querySelector(".min").textContent = formatValue(info.min);
    entry.card.querySelector(".max").textContent = formatValue(info.max);
  }

  // Adds an answer's samples; readings new to the page get nulls before them.
  function add(doc) {
    const before = state.times.length;
    for (const ms of doc.timestamps) state.times.push(ms / 1000);
    const added = state.times.length - before;
    const seen = new Set();
    for (const info of doc.sensors) {
      seen.add(info.id);
      let entry = state.series.get(info.id);
      if (!entry) {
        entry = { info: info, values: new Array(before).fill(null), card: makeCard(info) };
        state.series.set(info.id, entry);
      }
      entry.info = info;
      for (const value of info.values) entry.values.push(value);
    }
    for (const [id, entry] of state.series) {
      if (!seen.has(id)) for (let i = 0; i < added; i++) entry.values.push(null);
    }
    if (doc.timestamps.length > 0) state.newest = doc.timestamps[doc.timestamps.length - 1];
  }

  // Drops what the agent no longer keeps, and cards left without any value.
  function trim() {
    if (state.times.length === 0) return;
    const from = state.times[state.times.length - 1] - state.kept;
    let drop = 0;
    while (drop < state.times.length && state.times[drop] <= from) drop++;
    if (drop > 0) state.times.splice(0, drop);
    for (const [id, entry] of state.series) {
      if (drop > 0) entry.values.splice(0, drop);
      if (entry.values.every((v) => v === null)) {
        if (entry.chart) entry.chart.destroy();
        entry.card.remove();
        state.series.delete(id);
      }
    }
    for (const section of document.querySelectorAll("section[data-kind]")) {
      if (!section.querySelector(".card")) section.remove();
    }
  }

  function showMessage(doc) {
    const message = $("message");
    let text = "";
    if (doc.history === 0) {
      text = "The agent keeps no history (History=0 in its settings file).";
    } else if (!doc.up) {
      text = doc.error || "No readings yet.";
    } else if (state.series.size === 0) {
      text = "No readings yet.";
    }
    message.textContent = text;  // the agent's text, never markup
    message.hidden = text === "";
  }

  // The readings past a limit, worst first, at the top and in the title.
  function showSummary() {
    const worst = { critical: [], warning: [] };
    for (const entry of state.series.values()) {
      const s = entry.info.state;
      if (s === "critical" || s === "alarm") worst.critical.push(entry.info.name || entry.info.id);
      if (s === "warning") worst.warning.push(entry.info.name || entry.info.id);
    }
    const parts = [];
    if (worst.critical.length) parts.push(worst.critical.length + " critical");
    if (worst.warning.length) {
      parts.push(worst.warning.length + (worst.warning.length === 1 ? " warning" : " warnings"));
    }
    const summary = $("summary");
    summary.hidden = parts.length === 0;
    summary.dataset.state = worst.critical.length ? "critical" : "warning";
    summary.textContent = parts.length === 0 ? "" : parts.join(", ") + ": " +
      worst.critical.concat(worst.warning).join(", ");
    document.title = parts.length === 0 ? TITLE : "(" + parts.join(", ") + ") " + TITLE;
  }

  function apply(doc) {
    state.kept = doc.history;
    $("kept").textContent = doc.history > 0 ? Math.round(doc.history / 60) + " min" : "nothing";
    if (doc.history > 0) {
      add(doc);
      trim();
      for (const entry of state.series.values()) {
        showCard(entry);
        draw(entry);
      }
    }
    showSummary();
    showMessage(doc);
  }

  function reachable() {
    state.lastContact = new Date();
    $("unreachable").hidden = true;
  }

  function unreachable() {
    const notice = $("unreachable");
    notice.textContent = "The agent at " + location.host + " is unreachable; trying again every " +
      "second." + (state.lastContact ? " Last answer at " + formatTime(state.lastContact) + "." : "");
    notice.hidden = false;
  }

  async function poll() {
    let more = false;
    try {
      const answer = await fetch(historyUrl(), { cache: "no-store" });
      if (!answer.ok) throw new Error("HTTP " + answer.status);
      const doc = await answer.json();
      reachable();
      apply(doc);
      more = doc.more === true;  // a long history comes in pages: the next at once
    } catch (error) {
      unreachable();
    }
    setTimeout(poll, more ? 0 : POLL_MS);
  }

  function chooseRange(seconds) {
    state.range = seconds;
    for (const button of document.querySelectorAll(".range button")) {
      button.setAttribute("aria-pressed", String(Number(button.dataset.range) === seconds));
    }
    for (const entry of state.series.values()) draw(entry);
  }

  for (const button of document.querySelectorAll(".range button")) {
    button.addEventListener("click", () => chooseRange(Number(button.dataset.range)));
  }
  // A chart follows its card's width, whatever changed it: the window, a
  // scroll bar that came, the grid's columns.
  const resized = new ResizeObserver(() => {
    for (const entry of state.series.values()) {
      if (entry.chart && entry.chart.width !== chartWidth(entry)) {
        entry.chart.setSize({ width: chartWidth(entry), height: 120 });
      }
    }
  });
  resized.observe($("kinds"));
  // The charts' colours come from the light or dark scheme in use.
  window.matchMedia("(prefers-color-scheme: dark)").addEventListener("change", rebuildCharts);
  chooseRange(state.range);
  poll();
})();
