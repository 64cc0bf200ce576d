'use strict';
// Draws the page from its JSON data block. Every text comes from a trace,
// which is untrusted: texts go into the page through textContent only, never
// as markup, and nothing is ever fetched.
(function () {
  var CHUNK = 300; // rows drawn at a time: a long session opens at once
  var SLOWEST = 15;
  var EARLIER = 10; // matching lines shown before a divergence at first
  var data = JSON.parse(document.getElementById('ov-data').textContent);
  var page = document.getElementById('page');

  function el(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = text;
    return node;
  }
  function add(parent, tag, className, text) {
    return parent.appendChild(el(tag, className, text));
  }
  function count(n) {
    return n.toLocaleString('en-US');
  }
  function ms(value) {
    return value.toFixed(1) + ' ms';
  }

  // A list drawn CHUNK items at a time, with a button for the rest; more(k)
  // draws at least up to item k.
  function LazyList(container, length, draw) {
    this.container = container;
    this.length = length;
    this.draw = draw;
    this.drawn = 0;
    this.button = null;
    this.more();
  }
  LazyList.prototype.more = function (upTo) {
    var end = Math.min(this.length, Math.max(this.drawn + CHUNK, upTo === undefined ? 0 : upTo + 1));
    if (this.button) this.button.remove();
    this.button = null;
    for (; this.drawn < end; this.drawn++) this.container.appendChild(this.draw(this.drawn));
    if (this.drawn >= this.length) return;
    var self = this, left = this.length - this.drawn;
    this.button = add(this.container, 'div', 'more');
    add(this.button, 'button', null, 'Show ' + count(Math.min(CHUNK, left)) + ' more (' + count(left) + ' left)')
      .addEventListener('click', function () { self.more(); });
  };

  // A long text (a start-up block) cut to limit characters, whole in its tooltip.
  function shortened(parent, tag, text, limit) {
    var node = add(parent, tag, null, text.length <= limit ? text : text.slice(0, limit) + '\u2026');
    if (text.length > limit) node.title = text;
    return node;
  }
  function valueText(value) {
    return /^-?[0-9]+$/.test(value) ? value : '"' + value + '"';
  }
  function replyText(event) {
    if (event.unanswered) return 'no answer: the engine never returned';
    return (event.reply || []).filter(function (item) { return item[0] !== 'key'; })
      .map(function (item) { return item[0] === '' ? item[1] : item[0] + '=' + valueText(item[1]); }).join(' ');
  }
  function searchText(event) {
    if (event.search === undefined)
      event.search = (event.n + ' ' + event.text + ' ' + (event.key || '') + ' ' + replyText(event)).toLowerCase();
    return event.search;
  }

  // One run's rows: each event, or one row for a fold of many.
  function RunView(run, index, prefix) {
    this.run = run;
    this.index = index;
    this.prefix = prefix + 'r' + index + '-';
    this.items = [];
    this.foldOf = [];
    this.itemOf = [];
    this.boxes = [];
    this.longest = 0;
    var next = 0, self = this;
    run.folds.forEach(function (fold, f) {
      for (; next < fold[0]; next++) self.addEvent(next);
      self.itemOf[fold[0]] = self.items.length;
      self.items.push({fold: f});
      for (; next < fold[0] + fold[1] * fold[2]; next++) self.foldOf[next] = f;
    });
    for (; next < run.events.length; next++) this.addEvent(next);
    run.events.forEach(function (event) { self.longest = Math.max(self.longest, event.ms || 0); });
  }
  RunView.prototype.addEvent = function (i) {
    this.itemOf[i] = this.items.length;
    this.items.push({event: i});
  };
  RunView.prototype.row = function (i, prefix) {
    var event = this.run.events[i];
    var row = el('div', 'row ' + event.kind + (event.handoff ? ' handoff' : '') + (event.failed ? ' failed' : ''));
    row.id = prefix + i;
    add(row, 'span', 'n', String(event.n));
    add(row, 'span', 'editor', event.lane === 'editor' ? event.text : '');
    if (event.kind === 'call' || event.kind === 'start') {
      var cell = add(row, 'span', 'launcher');
      add(cell, 'span', 'sent', event.kind === 'start' ? 'start of the engine' : event.text);
      var reply = add(cell, 'span', 'reply');
      if (event.key) add(reply, 'span', 'key', event.key);
      reply.appendChild(document.createTextNode(replyText(event)));
    } else {
      shortened(row, 'span', event.lane === 'launcher' ? event.text : '', 60).className = 'launcher';
      add(row, 'span', 'engine');
    }
    var time = add(row, 'span', 'time');
    if (event.ms !== undefined) {
      var bar = add(time, 'span', 'bar');
      bar.style.width = Math.max(1, Math.round(70 * event.ms / (this.longest || 1))) + 'px';
      add(time, 'span', null, ms(event.ms));
    }
    return row;
  };
  RunView.prototype.foldBox = function (f) {
    var fold = this.run.folds[f], self = this, calls = fold[1] * fold[2], total = 0;
    for (var i = fold[0]; i < fold[0] + calls; i++) total += this.run.events[i].ms || 0;
    var box = el('div');
    var head = add(box, 'div', 'fold', fold[3] + ' \u00d7 ' + count(fold[2]) + '  (' + count(calls) + ' calls, ' +
      ms(total) + ', lines ' + this.run.events[fold[0]].n + ' to ' + this.run.events[fold[0] + calls - 1].n + ')');
    var button = add(head, 'button', null, 'Show the calls');
    var inside = null;
    box.reveal = function (k) {
      if (!inside) {
        inside = add(box, 'div', 'inside');
        box.list = new LazyList(inside, calls, function (j) { return self.row(fold[0] + j, self.prefix); });
      }
      inside.hidden = false;
      button.textContent = 'Hide the calls';
      if (k !== undefined) box.list.more(k);
    };
    button.addEventListener('click', function () {
      if (inside && !inside.hidden) {
        inside.hidden = true;
        button.textContent = 'Show the calls';
      } else {
        box.reveal();
      }
    });
    this.boxes[f] = box;
    return box;
  };
  RunView.prototype.draw = function (parent, several) {
    var run = this.run, self = this;
    var section = add(parent, 'section');
    section.id = this.prefix + 'run';
    add(section, 'h2', null, (several ? 'Run ' + (this.index + 1) + ': ' : '') + run.launcher +
      (run.date ? ', run of ' + run.date : ''));
    if (run.problem) add(section, 'div', 'problem', 'A replay would refuse this run: ' + run.problem);
    var header = add(section, 'dl', 'header');
    run.header.forEach(function (entry) {
      add(header, 'dt', null, entry[0]);
      add(header, 'dd', 'mono', entry[1]);
    });
    if (run.report) {
      var report = add(section, 'div', 'report');
      add(report, 'div', null, 'The runtime error handed to the editor:');
      add(report, 'div', 'line mono', run.report.line);
      var keys = add(report, 'dl', 'header');
      run.report.keys.forEach(function (entry) {
        add(keys, 'dt', null, entry[0]);
        add(keys, 'dd', 'mono', entry[1]);
      });
    }
    var lanes = add(section, 'div', 'lanes');
    var head = add(lanes, 'div', 'row head');
    ['Line', 'Editor (settings)', 'Launcher', 'Engine', 'Engine time'].forEach(function (name) {
      add(head, 'span', null, name);
    });
    this.list = new LazyList(add(lanes, 'div'), this.items.length, function (k) {
      var item = self.items[k];
      return item.fold === undefined ? self.row(item.event, self.prefix) : self.foldBox(item.fold);
    });
  };
  // Draws event i wherever it lies, a fold opened if need be, and shows it.
  RunView.prototype.reveal = function (i) {
    var f = this.foldOf[i];
    this.list.more(this.itemOf[f === undefined ? i : this.run.folds[f][0]]);
    if (f !== undefined) this.boxes[f].reveal(i - this.run.folds[f][0]);
    var row = document.getElementById(this.prefix + i);
    row.scrollIntoView({block: 'center'});
    row.classList.add('flash');
    setTimeout(function () { row.classList.remove('flash'); }, 2000);
  };

  function drawRuns(runs, parent, prefix) {
    if (runs.length > 1) {
      add(parent, 'h3', null, 'Runs');
      var toc = add(parent, 'ol', 'toc');
      runs.forEach(function (run, r) {
        var link = add(add(toc, 'li'), 'a', null, run.launcher + ', run of ' + run.date +
          (run.report ? ' \u2014 runtime error' : '') + ' (' + count(run.events.length) + ' events)');
        link.href = '#' + prefix + 'r' + r + '-run';
      });
    }
    return runs.map(function (run, r) {
      var view = new RunView(run, r, prefix);
      view.draw(parent, runs.length > 1);
      return view;
    });
  }

  function link(parent, text, action) {
    add(parent, 'button', 'link', text).addEventListener('click', action);
  }

  function drawTools(views) {
    var tools = add(page, 'div', 'tools');
    var filter = add(tools, 'input');
    filter.type = 'search';
    filter.placeholder = 'Filter: a command, a reply, a key, a line number';
    var slowButton = add(tools, 'button', null, 'Slowest calls');
    var slowest = add(page, 'div', 'panel');
    slowest.hidden = true;
    slowButton.addEventListener('click', function () {
      slowest.hidden = !slowest.hidden;
      if (slowest.childNodes.length) return;
      var calls = [];
      views.forEach(function (view) {
        view.run.events.forEach(function (event, i) {
          if (event.ms !== undefined) calls.push([event.ms, view, i]);
        });
      });
      calls.sort(function (a, b) { return b[0] - a[0]; });
      add(slowest, 'h3', null, 'The slowest calls');
      var list = add(slowest, 'ol');
      calls.slice(0, SLOWEST).forEach(function (call) {
        var event = call[1].run.events[call[2]];
        link(add(list, 'li'), ms(call[0]) + ': ' + (views.length > 1 ? 'run ' + (call[1].index + 1) + ', ' : '') +
          'line ' + event.n + ', ' + event.text + (event.key ? ' \u2192 ' + event.key : ''),
          function () { call[1].reveal(call[2]); });
      });
    });
    var results = add(page, 'div', 'panel');
    results.hidden = true;
    var pending = null;
    filter.addEventListener('input', function () {
      clearTimeout(pending);
      pending = setTimeout(function () { showMatches(filter.value.trim().toLowerCase()); }, 150);
    });
    function showMatches(query) {
      results.textContent = '';
      results.hidden = query === '';
      if (query === '') return;
      var matches = [];
      views.forEach(function (view) {
        view.run.events.forEach(function (event, i) {
          if (searchText(event).indexOf(query) >= 0) matches.push([view, i]);
        });
      });
      add(results, 'h3', null, count(matches.length) + (matches.length === 1 ? ' row matches' : ' rows match') +
        (matches.length ? ' (click one to see it in its run)' : ''));
      var lanes = add(results, 'div', 'lanes');
      new LazyList(lanes, matches.length, function (k) {
        var view = matches[k][0], row = view.row(matches[k][1], 'match-' + view.prefix);
        row.addEventListener('click', function () { view.reveal(matches[k][1]); });
        return row;
      });
    }
  }

  function drawTrace() {
    add(page, 'h1', null, 'Session trace ' + data.name);
    var holder = el('div');
    var views = drawRuns(data.runs, holder, '');
    drawTools(views);
    page.appendChild(holder);
  }

  function sideBySide(parent, run) {
    var table = add(parent, 'table', 'pairs');
    var head = add(table, 'tr');
    ['Line', 'Recorded', 'Line', 'Replayed'].forEach(function (name) { add(head, 'th', name === 'Line' ? 'n' : null, name); });
    var body = add(table, 'tbody');
    function pairRow(k) {
      var pair = run.pairs[k];
      var tr = el('tr', k === run.diverged ? 'diverge' : k > run.diverged ? 'after' : '');
      add(tr, 'td', 'n', pair[0] ? String(pair[0]) : '');
      shortened(tr, 'td', pair[1], k === run.diverged ? Infinity : 140);
      add(tr, 'td', 'n', pair[2] ? String(pair[2]) : '');
      shortened(tr, 'td', pair[3], k === run.diverged ? Infinity : 140);
      return tr;
    }
    var first = Math.max(0, run.diverged - EARLIER);
    for (var k = first; k < run.pairs.length; k++) body.appendChild(pairRow(k));
    if (first === 0) return;
    var more = add(parent, 'div', 'more');
    add(more, 'button', null, 'Show the ' + count(first) + ' matching lines before these')
      .addEventListener('click', function () {
        var top = body.firstChild;
        for (var j = 0; j < first; j++) body.insertBefore(pairRow(j), top);
        more.remove();
      });
    parent.insertBefore(more, table);
  }

  function drawReplay() {
    var counts = data.counts;
    add(page, 'h1', null, 'Replay of ' + count(data.traces.length) + (data.traces.length === 1 ? ' trace' : ' traces'));
    add(page, 'p', null, counts.passed + ' passed, ' + counts.failed + ' failed, ' + counts.refused +
      ' not replayable' + (counts.notRun ? ', ' + counts.notRun + ' not run (interrupted)' : ''));
    var summary = add(page, 'table', 'summary');
    var head = add(summary, 'tr');
    ['Trace', 'Result', 'Why', 'Time'].forEach(function (name) { add(head, 'th', null, name); });
    data.traces.forEach(function (trace, t) {
      var tr = add(summary, 'tr');
      var name = add(tr, 'td', 'mono');
      if (trace.status === 'passed') name.textContent = trace.name;
      else add(name, 'a', null, trace.name).href = '#trace-' + t;
      add(tr, 'td', trace.status === 'passed' ? 'pass' : trace.status === 'failed' ? 'fail' : 'skip', trace.status);
      add(tr, 'td', 'mono', trace.reason);
      add(tr, 'td', null, trace.seconds.toFixed(2) + ' s');
    });
    data.traces.forEach(function (trace, t) {
      var section = add(page, 'section');
      section.id = 'trace-' + t;
      if (trace.status === 'passed' && !trace.view) return;
      add(section, 'h2', null, trace.name + ': ' + trace.status);
      if (trace.reason) add(section, 'div', trace.status === 'failed' ? 'report mono' : 'problem mono', trace.reason);
      trace.runs.forEach(function (run) {
        if (trace.runs.length > 1) add(section, 'h3', null, 'Run ' + run.run);
        if (run.moved.length) {
          add(section, 'div', 'note', 'The recorded folders, and the scratch folders that took their place:');
          var moved = add(section, 'table', 'moved mono');
          run.moved.forEach(function (pair) {
            var tr = add(moved, 'tr');
            add(tr, 'td', null, pair[0]);
            add(tr, 'td', null, '\u2192 ' + pair[1]);
          });
        }
        if (!run.divergence) return;
        var texts = add(section, 'div', 'texts panel');
        add(texts, 'span', null, 'Line');
        add(texts, 'span', 'mono', String(run.divergence.line));
        add(texts, 'span', null, 'Expected');
        add(texts, 'span', 'mono', run.divergence.expected);
        add(texts, 'span', null, 'Got');
        add(texts, 'span', 'mono', run.divergence.got);
        if (run.pairs) sideBySide(section, run);
      });
      if (!trace.view) return;
      var holder = add(section, 'div');
      var button = add(section, 'button', null, 'Show the recorded session');
      section.insertBefore(button, holder);
      button.addEventListener('click', function () {
        button.remove();
        drawRuns(trace.view, holder, 't' + t + '-');
      });
    });
  }

  if (data.page === 'replay') drawReplay();
  else drawTrace();
})();
