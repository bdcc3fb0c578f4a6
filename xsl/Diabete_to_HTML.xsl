<?xml version="1.0" encoding="UTF-8"?>
<!--
  The diabetes integrated-care report as a page: a summary of the fourteen indicators
  (how many enrolled patients have at least one record, and the share), the patients to
  recall for each indicator (no record in the period), then one block per patient with
  the enrolment and every record of the period, newest first.
-->
<xsl:stylesheet version="1.0"
                xmlns:xsl="http://www.w3.org/1999/XSL/Transform"
                xmlns:d="http://www.zona12.asl.it/asl/diabete"
                xmlns:z="urn:zona12:indicatori"
                xmlns:pagina="urn:zona12:pagina"
                xmlns:exsl="http://exslt.org/common"
                extension-element-prefixes="pagina"
                exclude-result-prefixes="d z exsl">

  <xsl:include href="ZONA12_comune.xsl"/>

  <!-- The indicators in the order of the report, with the names shown to the doctor and
       the unit of their values, where they have one. -->
  <z:indicatori>
    <z:indicatore nome="controlloClinico">Controllo clinico</z:indicatore>
    <z:indicatore nome="pressioneArteriosa" unita="mmHg">Pressione arteriosa</z:indicatore>
    <z:indicatore nome="esamePiedi">Esame dei piedi</z:indicatore>
    <z:indicatore nome="fondoOculare">Fondo oculare</z:indicatore>
    <z:indicatore nome="microalbuminuria">Microalbuminuria</z:indicatore>
    <z:indicatore nome="colesteroloTotale" unita="mg/dL">Colesterolo totale</z:indicatore>
    <z:indicatore nome="colesteroloHDL" unita="mg/dL">Colesterolo HDL</z:indicatore>
    <z:indicatore nome="colesteroloLDL" unita="mg/dL">Colesterolo LDL</z:indicatore>
    <z:indicatore nome="trigliceridi" unita="mg/dL">Trigliceridi</z:indicatore>
    <z:indicatore nome="emoglobinaGlicata" unita="%">Emoglobina glicata</z:indicatore>
    <z:indicatore nome="vaccinazioneAntiInfluenzale">Vaccinazione antinfluenzale</z:indicatore>
    <z:indicatore nome="circonferenzaAddominale" unita="cm">Circonferenza addominale</z:indicatore>
    <z:indicatore nome="bmi" unita="kg/m²">Indice di massa corporea (BMI)</z:indicatore>
    <z:indicatore nome="abitudineFumo">Abitudine al fumo</z:indicatore>
  </z:indicatori>

  <xsl:variable name="indicatori" select="document('')/*/z:indicatori/z:indicatore"/>
  <xsl:variable name="assistiti" select="/d:diabete/d:medico/d:assistito"/>
  <xsl:variable name="totale" select="count($assistiti)"/>

  <xsl:variable name="radice" select="/"/>
  <!-- The processor numbers the ids of generate-id() in the order it first meets the nodes.
       The patients are met here first, in the order the ids have always had: the first
       patient, then the patients with records, then the others, each in the report's order. -->
  <xsl:variable name="numerati"
                select="count($assistiti[1][generate-id()]) + count($assistiti[d:monitoraggio/*[1]][generate-id()])
                        + count($assistiti[generate-id()])"/>

  <xsl:template match="/">
    <xsl:call-template name="pagina">
      <xsl:with-param name="titolo">Gestione integrata del diabete</xsl:with-param>
    </xsl:call-template>
  </xsl:template>

  <xsl:template match="/" mode="riepilogo">
    <xsl:value-of select="$totale"/>
    <xsl:choose>
      <xsl:when test="$totale = 1"> assistito arruolato nel progetto diabete</xsl:when>
      <xsl:otherwise> assistiti arruolati nel progetto diabete</xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <xsl:template match="/" mode="contenuto">
    <xsl:if test="$totale &gt; 0 and $numerati">
      <section class="riepilogo-indicatori">
        <h2>Riepilogo degli indicatori</h2>
        <p class="nota">Assistiti con almeno una rilevazione nel periodo, su <xsl:value-of select="$totale"/> arruolati.</p>
        <div class="pannello">
          <table class="indicatori">
            <xsl:for-each select="$indicatori">
              <xsl:call-template name="indicatore">
                <xsl:with-param name="uso" select="'riepilogo'"/>
              </xsl:call-template>
            </xsl:for-each>
          </table>
        </div>
      </section>
      <section class="richiami" id="da-richiamare">
        <h2>Da richiamare</h2>
        <p class="nota">Per ogni indicatore, gli assistiti senza alcuna rilevazione nel periodo.</p>
        <p class="vista-assistiti"><a href="#richiamo-per-assistito">Vedi per assistito, con gli indicatori che mancano a ciascuno</a></p>
        <xsl:for-each select="$indicatori">
          <xsl:call-template name="indicatore">
            <xsl:with-param name="uso" select="'richiamo'"/>
          </xsl:call-template>
        </xsl:for-each>
      </section>
      <xsl:call-template name="richiamo-per-assistito"/>
      <section>
        <h2>Assistiti</h2>
        <p class="nota">Rilevazioni del periodo, dalla più recente; la più recente è evidenziata.</p>
        <!-- One block per patient. The program's processor writes each block out as soon as
             the next one is made, so that a long report's blocks are never held together;
             any other processor applies the same templates through the fallback. -->
        <pagina:blocchi select="$assistiti">
          <xsl:fallback><xsl:apply-templates select="$assistiti"/></xsl:fallback>
        </pagina:blocchi>
      </section>
    </xsl:if>
  </xsl:template>

  <!-- An indicator's line in the summary (uso "riepilogo") or its list of patients to recall
       (uso "richiamo"): the patients without any record of it. Context: the indicator. -->
  <xsl:template name="indicatore">
    <xsl:param name="uso"/>
    <xsl:variable name="nome" select="string(@nome)"/>
    <!-- A step names its element literally, so the expression holds one path per indicator;
         each path is guarded by the indicator's name on the single root node, so that only
         the indicator's own path reads the patients' records. -->
    <xsl:variable name="mancanti"
                  select="$radice[$nome = 'controlloClinico']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:controlloClinico[1])]
                    | $radice[$nome = 'pressioneArteriosa']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:pressioneArteriosa[1])]
                    | $radice[$nome = 'esamePiedi']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:esamePiedi[1])]
                    | $radice[$nome = 'fondoOculare']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:fondoOculare[1])]
                    | $radice[$nome = 'microalbuminuria']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:microalbuminuria[1])]
                    | $radice[$nome = 'colesteroloTotale']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:colesteroloTotale[1])]
                    | $radice[$nome = 'colesteroloHDL']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:colesteroloHDL[1])]
                    | $radice[$nome = 'colesteroloLDL']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:colesteroloLDL[1])]
                    | $radice[$nome = 'trigliceridi']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:trigliceridi[1])]
                    | $radice[$nome = 'emoglobinaGlicata']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:emoglobinaGlicata[1])]
                    | $radice[$nome = 'vaccinazioneAntiInfluenzale']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:vaccinazioneAntiInfluenzale[1])]
                    | $radice[$nome = 'circonferenzaAddominale']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:circonferenzaAddominale[1])]
                    | $radice[$nome = 'bmi']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:bmi[1])]
                    | $radice[$nome = 'abitudineFumo']/d:diabete/d:medico/d:assistito[not(d:monitoraggio/d:abitudineFumo[1])]"/>
    <xsl:choose>
      <xsl:when test="$uso = 'riepilogo'">
        <xsl:variable name="con-rilevazione" select="$totale - count($mancanti)"/>
        <tr>
          <th><xsl:value-of select="."/></th>
          <td>
            <xsl:call-template name="barra">
              <xsl:with-param name="parte" select="$con-rilevazione"/>
              <xsl:with-param name="totale" select="$totale"/>
            </xsl:call-template>
          </td>
          <td class="numero"><xsl:value-of select="$con-rilevazione"/> su <xsl:value-of select="$totale"/></td>
          <td class="quota">
            <xsl:call-template name="percentuale">
              <xsl:with-param name="parte" select="$con-rilevazione"/>
              <xsl:with-param name="totale" select="$totale"/>
            </xsl:call-template>
          </td>
          <td class="richiamo">
            <xsl:if test="$mancanti">
              <a href="#richiamo-{$nome}"><xsl:value-of select="count($mancanti)"/> da richiamare</a>
            </xsl:if>
          </td>
        </tr>
      </xsl:when>
      <xsl:otherwise>
        <div class="richiamo-blocco" id="richiamo-{$nome}">
          <h3 class="richiamo-titolo">
            <xsl:value-of select="."/>
            <xsl:text> </xsl:text>
            <span class="conteggio">
              <xsl:choose>
                <xsl:when test="count($mancanti) = 1">· 1 assistito</xsl:when>
                <xsl:otherwise>· <xsl:value-of select="count($mancanti)"/> assistiti</xsl:otherwise>
              </xsl:choose>
            </span>
          </h3>
          <xsl:choose>
            <xsl:when test="$mancanti">
              <ol class="nomi">
                <!-- A list as long as the patients: written out as it is made, as the
                     patients' blocks below. -->
                <pagina:blocchi select="$mancanti" mode="richiamo">
                  <xsl:fallback><xsl:apply-templates select="$mancanti" mode="richiamo"/></xsl:fallback>
                </pagina:blocchi>
              </ol>
            </xsl:when>
            <xsl:otherwise><p class="nessuno">Nessuno: tutti gli assistiti hanno almeno una rilevazione.</p></xsl:otherwise>
          </xsl:choose>
        </div>
      </xsl:otherwise>
    </xsl:choose>
  </xsl:template>

  <!-- The recall list by patient: each patient with at least one indicator without a
       record, once, with those indicators; the most missing first, in the report's order
       among equals. A button orders the rows by name (the report's order) and back; the
       page prints in the order shown. -->
  <xsl:template name="richiamo-per-assistito">
    <section class="richiami-per-assistito" id="richiamo-per-assistito">
      <h2>Da richiamare, per assistito</h2>
      <p class="nota">Ogni assistito con almeno un indicatore senza rilevazioni nel periodo, con l'elenco di quelli che mancano.</p>
      <!-- Shown by the script, which alone can reorder. -->
      <p class="ordina" id="ordina-richiami" style="display: none">Ordina:
        <button type="button" class="scelto" data-ordine="mancanti">per indicatori mancanti</button>
        <button type="button" data-ordine="nome">per nome</button>
      </p>
      <table class="elenco richiamo-assistiti">
        <thead>
          <tr><th>Assistito</th><th>Mancanti</th><th>Indicatori senza rilevazione</th></tr>
        </thead>
        <tbody id="righe-richiamo">
          <!-- Each patient's row is made once, in the report's order, then the rows are
               sorted by how many indicators they miss. -->
          <xsl:variable name="righe">
            <xsl:for-each select="$assistiti">
              <!-- The indicators without a record, in the order of the list above: the n-th
                   indicator, taken by its place, tests its own path by a literal name,
                   which stops at the patient's first record of it. -->
              <xsl:variable name="m" select="d:monitoraggio"/>
              <xsl:variable name="mancanti"
                            select="$indicatori[1][not($m/d:controlloClinico[1])]
                                    | $indicatori[2][not($m/d:pressioneArteriosa[1])]
                                    | $indicatori[3][not($m/d:esamePiedi[1])]
                                    | $indicatori[4][not($m/d:fondoOculare[1])]
                                    | $indicatori[5][not($m/d:microalbuminuria[1])]
                                    | $indicatori[6][not($m/d:colesteroloTotale[1])]
                                    | $indicatori[7][not($m/d:colesteroloHDL[1])]
                                    | $indicatori[8][not($m/d:colesteroloLDL[1])]
                                    | $indicatori[9][not($m/d:trigliceridi[1])]
                                    | $indicatori[10][not($m/d:emoglobinaGlicata[1])]
                                    | $indicatori[11][not($m/d:vaccinazioneAntiInfluenzale[1])]
                                    | $indicatori[12][not($m/d:circonferenzaAddominale[1])]
                                    | $indicatori[13][not($m/d:bmi[1])]
                                    | $indicatori[14][not($m/d:abitudineFumo[1])]"/>
              <xsl:variable name="quanti" select="count($mancanti)"/>
              <xsl:if test="$quanti &gt; 0">
                <tr data-ordine="{position() - 1}" data-mancanti="{$quanti}">
                  <td class="assistito-nome">
                    <a href="#{generate-id()}">
                      <span class="cognome"><xsl:value-of select="d:cognome"/></span>
                      <xsl:text> </xsl:text>
                      <xsl:value-of select="d:nome"/>
                    </a>
                  </td>
                  <td class="numero"><xsl:value-of select="$quanti"/> su <xsl:value-of select="count($indicatori)"/></td>
                  <td>
                    <ul class="mancanti">
                      <xsl:for-each select="$mancanti">
                        <li><xsl:value-of select="."/></li>
                      </xsl:for-each>
                    </ul>
                  </td>
                </tr>
              </xsl:if>
            </xsl:for-each>
          </xsl:variable>
          <xsl:for-each select="exsl:node-set($righe)/tr">
            <xsl:sort data-type="number" order="descending" select="@data-mancanti"/>
            <xsl:copy-of select="."/>
          </xsl:for-each>
        </tbody>
      </table>
      <script><xsl:text disable-output-escaping="yes">
(function () {
  // ES5, for both page engines: reorders the rows by name (their place in the report) or
  // by the indicators missing, most first, the report's order among equals.
  var comandi = document.getElementById('ordina-richiami');
  var corpo = document.getElementById('righe-richiamo');
  if (!comandi || !corpo || !corpo.getElementsByTagName) return;
  var righe = Array.prototype.slice.call(corpo.getElementsByTagName('tr'));
  var pulsanti = comandi.getElementsByTagName('button');
  function numero(riga, nome) { return parseInt(riga.getAttribute(nome), 10); }
  function ordina(per) {
    righe.sort(function (a, b) {
      var d = per === 'nome' ? 0 : numero(b, 'data-mancanti') - numero(a, 'data-mancanti');
      return d !== 0 ? d : numero(a, 'data-ordine') - numero(b, 'data-ordine');
    });
    var frammento = document.createDocumentFragment();
    for (var i = 0; i &lt; righe.length; i++) frammento.appendChild(righe[i]);
    corpo.appendChild(frammento);
    for (var j = 0; j &lt; pulsanti.length; j++)
      pulsanti[j].className = pulsanti[j].getAttribute('data-ordine') === per ? 'scelto' : '';
  }
  for (var k = 0; k &lt; pulsanti.length; k++) {
    pulsanti[k].onclick = function () { ordina(this.getAttribute('data-ordine')); };
  }
  comandi.style.display = '';
})();
</xsl:text></script>
    </section>
  </xsl:template>

  <!-- The values of a field of the table of plausible ranges (qualita-dati) in the whole
       report, each field by its own path, guarded by its name on the single root node: every
       field of a record but its date. Context: the table's indicatore. -->
  <xsl:template name="valori-del-campo">
    <xsl:variable name="campo" select="concat(@elemento, '/', @campo)"/>
    <xsl:call-template name="valori-fuori-tabella">
      <xsl:with-param name="valori"
                      select="$radice[$campo = 'pressioneArteriosa/min']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:pressioneArteriosa/d:min
                              | $radice[$campo = 'pressioneArteriosa/max']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:pressioneArteriosa/d:max
                              | $radice[$campo = 'esamePiedi/esito']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:esamePiedi/d:esito
                              | $radice[$campo = 'fondoOculare/esito']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:fondoOculare/d:esito
                              | $radice[$campo = 'microalbuminuria/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:microalbuminuria/d:valore
                              | $radice[$campo = 'colesteroloTotale/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:colesteroloTotale/d:valore
                              | $radice[$campo = 'colesteroloHDL/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:colesteroloHDL/d:valore
                              | $radice[$campo = 'colesteroloLDL/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:colesteroloLDL/d:valore
                              | $radice[$campo = 'trigliceridi/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:trigliceridi/d:valore
                              | $radice[$campo = 'emoglobinaGlicata/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:emoglobinaGlicata/d:valore
                              | $radice[$campo = 'circonferenzaAddominale/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:circonferenzaAddominale/d:valore
                              | $radice[$campo = 'bmi/valore']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:bmi/d:valore
                              | $radice[$campo = 'abitudineFumo/booleano']/d:diabete/d:medico/d:assistito/d:monitoraggio/d:abitudineFumo/d:booleano"/>
    </xsl:call-template>
  </xsl:template>

  <!-- A patient in a recall list: the name, linked to the patient's block, and the date
       of birth. -->
  <xsl:template match="d:assistito" mode="richiamo">
    <li>
      <a href="#{generate-id()}">
        <span class="cognome"><xsl:value-of select="d:cognome"/></span>
        <xsl:text> </xsl:text>
        <xsl:value-of select="d:nome"/>
      </a>
      <xsl:text> </xsl:text>
      <span class="nascita">
        <xsl:call-template name="data">
          <xsl:with-param name="valore" select="d:dataNascita"/>
        </xsl:call-template>
      </span>
    </li>
  </xsl:template>

  <xsl:template match="d:assistito">
    <xsl:variable name="assistito" select="."/>
    <!-- The indicators with at least one record. -->
    <xsl:variable name="coperti"
                  select="boolean(d:monitoraggio/d:controlloClinico[1]) + boolean(d:monitoraggio/d:pressioneArteriosa[1])
                          + boolean(d:monitoraggio/d:esamePiedi[1]) + boolean(d:monitoraggio/d:fondoOculare[1])
                          + boolean(d:monitoraggio/d:microalbuminuria[1]) + boolean(d:monitoraggio/d:colesteroloTotale[1])
                          + boolean(d:monitoraggio/d:colesteroloHDL[1]) + boolean(d:monitoraggio/d:colesteroloLDL[1])
                          + boolean(d:monitoraggio/d:trigliceridi[1]) + boolean(d:monitoraggio/d:emoglobinaGlicata[1])
                          + boolean(d:monitoraggio/d:vaccinazioneAntiInfluenzale[1]) + boolean(d:monitoraggio/d:circonferenzaAddominale[1])
                          + boolean(d:monitoraggio/d:bmi[1]) + boolean(d:monitoraggio/d:abitudineFumo[1])"/>
    <article class="assistito" id="{generate-id()}">
      <div class="assistito-testa">
        <div>
          <xsl:call-template name="anagrafica"/>
          <p class="presa">
            Presa in carico dal <strong>
              <xsl:call-template name="data">
                <xsl:with-param name="valore" select="d:presaInCarico/d:data"/>
              </xsl:call-template>
            </strong>
            <xsl:if test="normalize-space(d:presaInCarico/d:codice) != ''">
              · codice <strong><xsl:value-of select="d:presaInCarico/d:codice"/></strong>
            </xsl:if>
          </p>
        </div>
        <span class="distintivo">
          <xsl:if test="$coperti = 0"><xsl:attribute name="class">distintivo debole</xsl:attribute></xsl:if>
          <xsl:value-of select="$coperti"/> indicatori su <xsl:value-of select="count($indicatori)"/>
        </span>
      </div>
      <table class="rilevazioni">
        <!-- The indicator's own path to the patient's records, chosen by its name. -->
        <xsl:for-each select="$indicatori">
          <xsl:variable name="nome" select="string(@nome)"/>
          <xsl:choose>
            <xsl:when test="$nome = 'controlloClinico'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:controlloClinico"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'pressioneArteriosa'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:pressioneArteriosa"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'esamePiedi'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:esamePiedi"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'fondoOculare'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:fondoOculare"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'microalbuminuria'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:microalbuminuria"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'colesteroloTotale'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:colesteroloTotale"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'colesteroloHDL'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:colesteroloHDL"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'colesteroloLDL'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:colesteroloLDL"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'trigliceridi'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:trigliceridi"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'emoglobinaGlicata'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:emoglobinaGlicata"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'vaccinazioneAntiInfluenzale'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:vaccinazioneAntiInfluenzale"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'circonferenzaAddominale'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:circonferenzaAddominale"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'bmi'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:bmi"/></xsl:call-template>
            </xsl:when>
            <xsl:when test="$nome = 'abitudineFumo'">
              <xsl:call-template name="riga"><xsl:with-param name="righe" select="$assistito/d:monitoraggio/d:abitudineFumo"/></xsl:call-template>
            </xsl:when>
          </xsl:choose>
        </xsl:for-each>
      </table>
    </article>
  </xsl:template>

  <!-- A patient's row of one indicator. Context: the indicator; righe: the patient's
       records of it. -->
  <xsl:template name="riga">
    <xsl:param name="righe"/>
    <xsl:variable name="nome" select="string(@nome)"/>
    <!-- What follows a value: its unit, after a blank unless it is a percent sign. -->
    <xsl:variable name="unita" select="concat(substring(' ', 1, @unita != '%'), @unita)"/>
    <tr>
      <xsl:if test="not($righe)"><xsl:attribute name="class">assente</xsl:attribute></xsl:if>
      <th><xsl:value-of select="."/></th>
      <td>
        <!-- The kind of record is chosen once per indicator, not once per record. The
             records come newest first: the first one, the newest, gets the class
             "ultima". -->
        <xsl:choose>
          <xsl:when test="not($righe)"><span class="assente-testo">nessuna rilevazione</span></xsl:when>
          <xsl:when test="$nome = 'controlloClinico' or $nome = 'vaccinazioneAntiInfluenzale'">
            <xsl:for-each select="$righe">
              <span class="voce ">
                <xsl:if test="position() = 1"><xsl:attribute name="class">voce ultima </xsl:attribute></xsl:if>
                <xsl:call-template name="quando"/>
              </span>
            </xsl:for-each>
          </xsl:when>
          <!-- Blood pressure as maximum/minimum, never blank; a value not recorded shows
               as a dash. -->
          <xsl:when test="$nome = 'pressioneArteriosa'">
            <xsl:for-each select="$righe">
              <span class="voce ">
                <xsl:if test="position() = 1"><xsl:attribute name="class">voce ultima </xsl:attribute></xsl:if>
                <xsl:call-template name="quando"/>
                <xsl:text> </xsl:text>
                <strong>
                  <xsl:value-of select="concat(translate(concat(d:max, substring('–', 1, normalize-space(d:max) = ''), '/',
                                                                d:min, substring('–', 1, normalize-space(d:min) = '')),
                                                         '.', ','), $unita)"/>
                </strong>
              </span>
            </xsl:for-each>
          </xsl:when>
          <!-- substring(text, 1, length * condition) is the text when the condition holds and
               "" otherwise. -->
          <xsl:when test="$nome = 'esamePiedi' or $nome = 'fondoOculare'">
            <xsl:for-each select="$righe">
              <span class="voce {substring('ultima ', 1, 7 * (position() = 1))}{substring('patologico', 1, 10 * (d:esito = 'Patologico'))}">
                <xsl:call-template name="quando"/>
                <xsl:if test="string(d:esito) != ''">
                  <xsl:text> </xsl:text>
                  <strong><xsl:value-of select="translate(d:esito, '.', ',')"/></strong>
                </xsl:if>
              </span>
            </xsl:for-each>
          </xsl:when>
          <xsl:when test="$nome = 'abitudineFumo'">
            <xsl:for-each select="$righe">
              <span class="voce ">
                <xsl:if test="position() = 1"><xsl:attribute name="class">voce ultima </xsl:attribute></xsl:if>
                <xsl:call-template name="quando"/>
                <xsl:choose>
                  <xsl:when test="d:booleano = 'Sì'"><xsl:text> </xsl:text><strong>fumatore</strong></xsl:when>
                  <xsl:when test="d:booleano = 'No'"><xsl:text> </xsl:text><strong>non fumatore</strong></xsl:when>
                  <xsl:when test="string(d:booleano) != ''">
                    <xsl:text> </xsl:text>
                    <strong><xsl:value-of select="translate(d:booleano, '.', ',')"/></strong>
                  </xsl:when>
                </xsl:choose>
              </span>
            </xsl:for-each>
          </xsl:when>
          <!-- Laboratory values, abdominal circumference, BMI: the unit only after a value
               that is not blank. -->
          <xsl:otherwise>
            <xsl:for-each select="$righe">
              <span class="voce ">
                <xsl:if test="position() = 1"><xsl:attribute name="class">voce ultima </xsl:attribute></xsl:if>
                <xsl:call-template name="quando"/>
                <xsl:choose>
                  <xsl:when test="normalize-space(d:valore) != ''">
                    <xsl:text> </xsl:text>
                    <strong><xsl:value-of select="concat(translate(d:valore, '.', ','), $unita)"/></strong>
                  </xsl:when>
                  <xsl:when test="string(d:valore) != ''">
                    <xsl:text> </xsl:text>
                    <strong><xsl:value-of select="translate(d:valore, '.', ',')"/></strong>
                  </xsl:when>
                </xsl:choose>
              </span>
            </xsl:for-each>
          </xsl:otherwise>
        </xsl:choose>
      </td>
    </tr>
  </xsl:template>

  <!-- A record's date. Context: the record. A date of eight digits, as the reports give
       them, is written here; anything else as the shared template writes it. -->
  <xsl:template name="quando">
    <span class="quando">
      <xsl:choose>
        <xsl:when test="translate(d:data, '0123456789', '0000000000') = '00000000'">
          <xsl:value-of select="translate('gh/ef/abcd', 'abcdefgh', d:data)"/>
        </xsl:when>
        <xsl:otherwise>
          <xsl:call-template name="data">
            <xsl:with-param name="valore" select="d:data"/>
          </xsl:call-template>
        </xsl:otherwise>
      </xsl:choose>
    </span>
  </xsl:template>

</xsl:stylesheet>
