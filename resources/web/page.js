// Shows /status.json, fetched again every 2 s, without reloading the page.
// Texts go in as text only: what a clock shows is never read as markup.
"use strict";
(function () {
  var RefreshMs = 2000;
  var stateText = { answering: "answering", not_answering: "not answering", not_yet_sent_to: "not yet sent to" };
  // Not answering first, as in the Clocks window.
  var stateOrder = { not_answering: 0, not_yet_sent_to: 1, answering: 2 };
  var feedNames = { weather: "Weather", stocks: "Stocks", alerts: "Alerts", forecast: "Forecast" };
  var lastGood = null;

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined && text !== null) node.textContent = text;
    return node;
  }

  // "2026-12-09T14:03:41+01:00" as the program's local time: "14:03:41",
  // with the date when it is not the day of `today`.
  function time(value, today) {
    if (!value) return "";
    var clock = value.substr(11, 8);
    return value.substr(0, 10) === (today || "").substr(0, 10) ? clock : value.substr(5, 5) + " " + clock;
  }

  // A cell with its column's name, for the one-column layout of a phone,
  // where an empty cell is left out.
  function cell(row, label, content, className) {
    var td = el("td", className);
    td.setAttribute("data-label", label);
    var inner = el("div");
    if (typeof content === "string") inner.textContent = content;
    else if (content) inner.appendChild(content);
    if (!inner.textContent) td.classList.add("empty");
    td.appendChild(inner);
    row.appendChild(td);
    return td;
  }

  function variableCell(v, today) {
    var box = document.createDocumentFragment();
    if (v.acknowledged) {
      var shown = el("span", "acknowledged", v.acknowledged);
      if (v.acknowledgedAt) shown.title = "Acknowledged " + time(v.acknowledgedAt, today);
      box.appendChild(shown);
    }
    if (v.onItsWay) box.appendChild(el("span", "on-its-way", v.onItsWay));
    if (v.givenUp) box.appendChild(el("span", "given-up", "given up: " + v.givenUp));
    return box;
  }

  function showFeeds(doc) {
    var body = document.querySelector("#feeds tbody");
    var rows = document.createDocumentFragment();
    Object.keys(feedNames).forEach(function (key) {
      var feed = doc.feeds[key];
      if (!feed) return;
      var tr = el("tr", feed.healthy ? "feed" : "feed unhealthy");
      tr.setAttribute("data-feed", key);
      cell(tr, "Feed", feedNames[key], feed.healthy ? "name" : "name bad");
      cell(tr, "Last success", time(feed.lastSuccess, doc.written) || "not yet");
      cell(tr, "Last failure", feed.lastFailure ? time(feed.lastFailureAt, doc.written) + " " + feed.lastFailure : "", "text");
      cell(tr, "Suspended until", time(feed.suspendedUntil, doc.written), "suspended");
      cell(tr, "Next due", feed.nextDue ? time(feed.nextDue, doc.written) : "not scheduled now");
      rows.appendChild(tr);
    });
    body.replaceChildren(rows);
  }

  function showClocks(doc) {
    var body = document.querySelector("#clocks tbody");
    var clocks = doc.clocks.map(function (clock, index) { return { clock: clock, index: index }; });
    clocks.sort(function (a, b) {
      return stateOrder[a.clock.state] - stateOrder[b.clock.state] || a.index - b.index;
    });
    var rows = document.createDocumentFragment();
    clocks.forEach(function (entry) {
      var c = entry.clock;
      var tr = el("tr", "clock " + c.state);
      tr.setAttribute("data-address", c.address);
      tr.setAttribute("data-state", c.state);
      cell(tr, "Address", c.address);
      cell(tr, "List", c.lists.length === 2 ? "both" : c.lists[0]);
      var state = stateText[c.state] || c.state;
      if (c.notAnsweringSince) state += " since " + time(c.notAnsweringSince, doc.written);
      cell(tr, "State", state, "state");
      var answered = time(c.lastAnswered, doc.written);
      var last = el("span", "", answered);
      var box = document.createDocumentFragment();
      box.appendChild(last);
      if (c.fromBeforeRestart) box.appendChild(el("span", "before-restart", "before the restart"));
      cell(tr, "Last answered", box);
      cell(tr, "Answer time", c.answerMs === null ? "" : (c.answerMs < 10 ? c.answerMs.toFixed(1) : Math.round(c.answerMs)) + " ms");
      cell(tr, "Retransmitted", c.retransmittedShare === null ? "" : Math.round(c.retransmittedShare * 100) + "%");
      for (var i = 0; i < c.variables.length; ++i) cell(tr, "Variable " + (i + 1), variableCell(c.variables[i], doc.written), "text");
      rows.appendChild(tr);
    });
    body.replaceChildren(rows);
  }

  function show(doc) {
    document.getElementById("host").textContent = "on " + doc.host;
    document.title = "Corvelta on " + doc.host;
    var s = doc.summary.clocks;
    var total = s.answering + s.not_answering + s.not_yet_sent_to;
    var parts = [s.answering + " of " + total + " clocks answering"];
    if (s.not_answering) parts.push(s.not_answering + " not answering");
    if (s.not_yet_sent_to) parts.push(s.not_yet_sent_to + " not yet sent to");
    document.getElementById("summary").textContent = parts.join(" \u00b7 ");
    var asOf = document.getElementById("as-of");
    asOf.className = doc.running ? "" : "stale";
    asOf.textContent = (doc.running ? "As of " : "Stopped at ") + time(doc.written, doc.written) +
      " \u00b7 version " + doc.version + " \u00b7 started " + time(doc.started, doc.written);
    showFeeds(doc);
    showClocks(doc);
  }

  function refresh() {
    fetch("/status.json", { cache: "no-store" })
      .then(function (reply) {
        if (!reply.ok) throw new Error("HTTP " + reply.status);
        return reply.json();
      })
      .then(function (doc) {
        lastGood = doc;
        show(doc);
      })
      .catch(function () {
        var asOf = document.getElementById("as-of");
        asOf.className = "stale";
        asOf.textContent = "Corvelta does not answer" + (lastGood ? "; last heard " + time(lastGood.written, lastGood.written) : "");
      })
      .then(function () { setTimeout(refresh, RefreshMs); });
  }
  refresh();
})();
